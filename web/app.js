// The try page: turns the controls into a request to the program, shows the
// image (or the program's own error text) and keeps the state in the page's
// address so that a link shows the same barcode.
//
// Two halves: the rules (what a value means to the program, the request, the
// hints, which option a type uses), which need no page and are loaded by
// node's tests too; then the page itself, which only reads controls and
// writes the answers of the rules into the document.
"use strict";

const StrixelRules = (function () {
  // Per type: the name, a text the program accepts, and what it accepts.
  const TYPES = {
    0: ["Interleaved 2 of 5", "12345670", "digits; an odd count gets a leading 0"],
    1: ["Industrial 2 of 5", "1234567", "digits"],
    2: ["Code 39", "CODE39", "capital letters, digits, space and - . $ / + %"],
    3: ["Code 39 Extended", "Code39ext", "printable ASCII; ~hh gives any other byte up to 7F"],
    4: ["Code 11", "123-45", "digits and -"],
    5: ["Codabar", "A1234567B", "digits and - $ : / . + between the start and stop letters A to D"],
    6: ["MSI", "1234567", "digits"],
    7: ["Code 128", "Strixel128", "printable ASCII; set C only digits"],
    8: ["EAN-2", "12", "2 digits"],
    9: ["EAN-5", "12345", "5 digits"],
    10: ["EAN-8", "1234567", "7 digits; an 8th, the check digit, is computed anew"],
    11: ["EAN-13", "590123412345", "12 digits; a 13th, the check digit, is computed anew"],
    12: ["EAN-14", "1234567890123", "13 digits; a 14th, the check digit, is computed anew"],
    13: ["UPC-A", "12345678901", "11 digits; a 12th, the check digit, is computed anew"],
    14: ["UPC-E", "01200000345",
      "a UPC-A number of 11 digits starting with 0 or 1 that compresses"],
    15: ["UCC/EAN-128", "<AI01>12345678901231",
      "application identifiers written <AI01> followed by their data"],
    16: ["SSCC-18", "0012345678901234567", "00 and 17 digits; the check digit is computed"],
    17: ["POSTNET", "123456789", "digits, such as a ZIP+4 code"],
    18: ["PLANET", "123456789", "digits"],
    19: ["Code 93", "CODE93", "capital letters, digits, space and - . $ / + %"],
    20: ["Code 93 Extended", "Code93ext", "printable ASCII; ~hh gives any other byte up to 7F"],
    21: ["ITF-14", "1234567890123", "13 digits; a 14th, the check digit, is computed anew"],
  };
  const DEFAULT_DATA = "1234567";
  // The program answers nothing to a longer request, debug=1 or not.
  const REQUEST_LIMIT = 3600;
  const DEBUG_PARAM = "debug=1";

  // Every parameter but data, in request order. kind: int (number field,
  // empty meaning "not given"), real, choice (select of ints), bool, colour,
  // word (select of words).
  const PARAMS = [
    { name: "btype", kind: "choice", def: 7 },
    { name: "w", kind: "int", min: 1, max: 699, def: null, size: true },
    { name: "h", kind: "int", min: 1, max: 699, def: null, size: true },
    { name: "xdim", kind: "int", min: 1, def: 2, size: true },
    { name: "angle", kind: "choice", def: 0 },
    { name: "quiet", kind: "bool", def: true },
    { name: "balign", kind: "choice", def: 2 },
    { name: "talign", kind: "choice", def: 0 },
    { name: "bcolor", kind: "colour", def: "ffffff" },
    { name: "fcolor", kind: "colour", def: "000000" },
    { name: "tcolor", kind: "colour", def: "000000" },
    { name: "guard", kind: "bool", def: true },
    { name: "text", kind: "bool", def: true },
    { name: "tdown", kind: "choice", def: 1 },
    { name: "stst", kind: "bool", def: false },
    { name: "schk", kind: "bool", def: true },
    { name: "cchk", kind: "bool", def: true },
    { name: "ntxt", kind: "bool", def: true },
    { name: "c128", kind: "choice", def: 0 },
    { name: "fh", kind: "int", min: 1, def: 14, size: true },
    { name: "bred", kind: "int", def: 0 },
    { name: "w2n", kind: "real", def: 2.5, size: true },
    { name: "fmt", kind: "word", def: "png", words: ["png", "svg"] },
  ];
  const PARAM = Object.fromEntries(PARAMS.map((p) => [p.name, p]));

  // The check characters of each type, as the program makes them. how:
  // "optional" (added while cchk is on), "always", "replaces" (the program
  // computes the digit and draws it in place of a typed one at position
  // `at`), "hidden" (always added, never shown) or "none".
  const CHECKS = {
    0: { how: "optional", what: "a modulo 10 check digit" },
    1: { how: "optional", what: "a modulo 10 check digit" },
    2: { how: "optional", what: "a modulo 43 check character" },
    3: { how: "optional", what: "a modulo 43 check character" },
    4: { how: "none" },
    5: { how: "none" },
    6: { how: "optional", what: "a modulo 10 check digit" },
    7: { how: "always", what: "a modulo 103 check character" },
    8: { how: "none" },
    9: { how: "none" },
    10: { how: "replaces", what: "the check digit", at: 8 },
    11: { how: "replaces", what: "the check digit", at: 13 },
    12: { how: "replaces", what: "the check digit", at: 14 },
    13: { how: "replaces", what: "the check digit", at: 12 },
    14: { how: "replaces", what: "the UPC-A check digit", at: 12 },
    15: { how: "hidden", what: "the modulo 103 check character of Code 128" },
    16: { how: "replaces", what: "the check digit", at: 20 },
    17: { how: "optional", what: "a correction digit" },
    18: { how: "optional", what: "a correction digit" },
    19: { how: "always", what: "two check characters, C and K" },
    20: { how: "always", what: "two check characters, C and K" },
    21: { how: "replaces", what: "the check digit", at: 14 },
  };

  const RETAIL = [10, 11, 13, 14];
  // The types drawn with wide and narrow elements.
  const WIDE = [0, 1, 2, 3, 4, 5, 6, 21];
  const OPTIONAL_CHECK = Object.keys(CHECKS).map(Number)
    .filter((t) => CHECKS[t].how === "optional");
  const SHOWN_CHECK = Object.keys(CHECKS).map(Number)
    .filter((t) => ["optional", "always", "replaces"].includes(CHECKS[t].how));
  const TEXT_OPTIONS = ["tdown", "fh", "tcolor", "talign", "stst", "schk", "ntxt"];

  // Which option a type uses, and why the others leave it alone. A row
  // names the types that use the option, or a condition on the other
  // values (v: the values the program would use); `option` limits the row
  // to some values of a select. The first row that does not hold gives the
  // reason.
  const APPLIES = [
    ...TEXT_OPTIONS.map((name) => ({
      name, when: (v) => v.text, why: () => "no text is drawn while text is off",
    })),
    { name: "guard", types: RETAIL,
      why: (t) => t + " has no guard bars; only EAN-8, EAN-13, UPC-A and UPC-E have" },
    { name: "talign", option: [4, 5, 6], types: RETAIL,
      why: () => "they lay out the digits of EAN-8, EAN-13, UPC-A and UPC-E only" },
    { name: "c128", types: [7],
      why: (t) => t + " chooses its character sets itself; only Code 128 takes c128" },
    { name: "w2n", types: WIDE, why: (t) => t + " has no wide elements" },
    { name: "cchk", types: OPTIONAL_CHECK,
      why: (t, type) => t + (CHECKS[type].how === "none" ? " has no check character" :
        " always adds its check character") },
    { name: "schk", types: SHOWN_CHECK,
      why: (t, type) => t + (CHECKS[type].how === "hidden" ?
        " never shows its check character" : " has no check character") },
    { name: "schk", when: (v) => v.cchk || !OPTIONAL_CHECK.includes(v.btype),
      why: () => "no check character is added while cchk is off" },
    { name: "stst", types: [2, 3, 4, 5],
      why: (t) => t + " shows no start and stop characters" },
    { name: "ntxt", types: [3, 20],
      why: () => "only Code 39 Extended and Code 93 Extended carry non-printing characters" },
    { name: "xdim", when: (v) => !fixedSize(v),
      why: (t, type, v) => "the fixed " + (v.angle % 180 === 0 ? "width w" : "height h") +
        " sets the module width" },
  ];

  // --- Reading values the way the program reads them -----------------------

  // The C atoi rule: white space, a sign, digits; no digits give 0.
  function atoi(text) {
    const n = parseInt(String(text).trim(), 10);
    return Number.isNaN(n) ? 0 : n;
  }

  // Hexadecimal digits from the start; only the last six count.
  function hexColour(text) {
    const digits = (String(text).match(/^[0-9a-fA-F]*/) || [""])[0];
    return ("000000" + digits).slice(-6).toLowerCase();
  }

  function inRange(p, n) {
    return Number.isInteger(n) && (p.min === undefined || n >= p.min) &&
      (p.max === undefined || n <= p.max);
  }

  // The value to send for what a control holds (a bool, "rrggbb", a number
  // for a choice, the typed text of a number field): null for the default,
  // undefined when the program would not take it as typed.
  function requestValue(p, raw) {
    if (p.kind === "bool") return raw === p.def ? null : (raw ? "1" : "0");
    if (p.kind === "colour" || p.kind === "choice") {
      return raw === p.def ? null : String(raw);
    }
    if (p.kind === "word") return raw === p.def || !p.words.includes(raw) ? null : raw;
    const v = raw === null || raw === undefined ? "" : String(raw).trim();
    if (v === "") return null;
    if (p.kind === "real") {
      const r = /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(v) ? Number(v) : NaN;
      if (!Number.isFinite(r) || r <= 0) return undefined;
      return r === p.def ? null : String(r);
    }
    if (!/^[+-]?\d+$/.test(v) || !inRange(p, Number(v))) return undefined;
    return Number(v) === p.def ? null : String(Number(v));
  }

  // What the program uses for a control's content: its value, or the
  // default when the value stays out of the request.
  function effective(p, raw) {
    const v = requestValue(p, raw);
    if (typeof v !== "string") return p.def;
    if (p.kind === "bool") return v === "1";
    if (p.kind === "colour" || p.kind === "word") return v;
    return Number(v);
  }

  function effectiveValues(raws) {
    const v = {};
    for (const p of PARAMS) v[p.name] = effective(p, raws[p.name]);
    return v;
  }

  // Why a value the program would not take as such stays out of the request.
  function notSent(p) {
    if (p.kind === "real") return "Not sent: give a number above 0.";
    if (p.max !== undefined) {
      return "Not sent: give a whole number from " + p.min + " to " + p.max + ".";
    }
    if (p.min !== undefined) return "Not sent: give a whole number of " + p.min + " or more.";
    return "Not sent: give a whole number.";
  }

  function fixedSize(v) {
    return v.angle % 180 === 0 ? v.w !== null : v.h !== null;
  }

  // --- The request -----------------------------------------------------------

  // The text as a form value, shorter than encodeURIComponent makes it: a
  // space as "+", and "$ / : @ , ; ?", which a query may hold, as they are.
  // The program splits at "&" before it decodes, so "&" (and "+", "%",
  // "#", "=") keep their escapes.
  function encodeData(text) {
    return encodeURIComponent(text).replace(/%20/g, "+")
      .replace(/%(24|2C|2F|3A|3B|3F|40)/g, (m) => decodeURIComponent(m));
  }

  // The query text (only what differs from the defaults) and the
  // parameters left out because the program would not take them as given.
  function buildQuery(raws, data) {
    const parts = [];
    const ignored = [];
    for (const p of PARAMS) {
      const v = requestValue(p, raws[p.name]);
      if (v === undefined) ignored.push(p.name);
      else if (v !== null) parts.push(p.name + "=" + v);
    }
    if (data === "") {
      // The program finds an empty value only when an "&" follows it.
      parts.unshift("data=");
      if (parts.length === 1) parts.push("");
    } else if (data !== DEFAULT_DATA) {
      parts.push("data=" + encodeData(data));
    }
    return { query: parts.join("&"), ignored: ignored };
  }

  function requestUrl(cgi, query) {
    return query === "" ? cgi : cgi + "?" + query;
  }

  // The same request asking for the program's error page: debug first,
  // where an "&" always follows it.
  function debugQuery(query) {
    return query === "" ? DEBUG_PARAM : DEBUG_PARAM + "&" + query;
  }

  // How the request's length stands against the limit: "ok", "no-debug"
  // (sent, but a failure could not be asked about) or "too-long".
  function lengthState(query) {
    if (query.length > REQUEST_LIMIT) return "too-long";
    return debugQuery(query).length > REQUEST_LIMIT ? "no-debug" : "ok";
  }

  function lengthLine(query) {
    const n = query.length;
    const state = lengthState(query);
    let line = "Request: " + n + " of " + REQUEST_LIMIT + " characters";
    if (state === "too-long") {
      line += ", " + (n - REQUEST_LIMIT) + " too many: the program answers nothing.";
    } else if (state === "no-debug") {
      line += "; a refusal could not be explained (debug=1 needs " +
        (DEBUG_PARAM.length + 1) + " more).";
    } else {
      line += ".";
    }
    return line + (/%/.test(query) ? " Characters sent as %XX escapes count three." : "");
  }

  // --- What the page says about the settings -------------------------------

  // Relative reflectance of a colour in daylight (luminance) and in the red
  // light of laser scanners (the red channel alone), both linear.
  function linear(channel) {
    const c = channel / 255;
    return c <= 0.04045 ? c / 12.92 : Math.pow((c + 0.055) / 1.055, 2.4);
  }

  function reflectance(rrggbb) {
    const n = parseInt(rrggbb, 16);
    const r = linear((n >> 16) & 255);
    const g = linear((n >> 8) & 255);
    const b = linear(n & 255);
    return { day: 0.2126 * r + 0.7152 * g + 0.0722 * b, red: r };
  }

  // The least contrast a reader is likely to take between background and
  // bars, as a share of full black on white (print grade C asks for 40 %).
  const LEAST_CONTRAST = 0.4;

  // Hints for settings that draw a symbol readers are likely to refuse:
  // [{ field, text }]. They never keep a request from being sent.
  function hints(raws) {
    const v = effectiveValues(raws);
    const type = TYPES[v.btype] ? TYPES[v.btype][0] : "";
    const out = [];
    if (WIDE.includes(v.btype) && (v.w2n < 2 || v.w2n > 3)) {
      out.push({ field: "w2n", text: "A wide to narrow ratio of " + v.w2n +
        (v.w2n < 2 ? " makes wide and narrow elements of " + type + " hard to tell apart" :
          " makes the wide elements of " + type + " wider than readers expect") +
        ": readers want 2 to 3." });
    }
    if (v.bred > 50) {
      out.push({ field: "bred", text: "A reduction of " + v.bred + " % takes more than half a " +
        "module off every bar" + (v.bred >= 100 ? ", so narrow bars vanish" : "") +
        ": readers want bars of at least half their width." });
    } else if (v.bred < -50) {
      out.push({ field: "bred", text: "A reduction of " + v.bred + " % widens every bar by more " +
        "than half a module, so narrow spaces shrink to less than half their width." });
    }
    const back = reflectance(v.bcolor);
    const bars = reflectance(v.fcolor);
    const day = back.day - bars.day;
    const red = back.red - bars.red;
    if (day <= 0) {
      out.push({ field: "fcolor", text: "The bars are not darker than the background: " +
        "readers look for dark bars on a light background." });
    } else if (Math.min(day, red) < LEAST_CONTRAST) {
      const worse = red < day ? "in the red light of laser scanners" : "";
      out.push({ field: "fcolor", text: "Bars and background differ by " +
        Math.round(Math.min(day, red) * 100) + " % in lightness" + (worse ? " " + worse : "") +
        ": readers want " + Math.round(LEAST_CONTRAST * 100) + " % or more." });
    }
    return out;
  }

  // The options the chosen type (and the other values) leave without
  // effect: { name: reason }; a row with `option` gives { name: { values,
  // reason } } for the select's options instead.
  function notApplicable(raws) {
    const v = effectiveValues(raws);
    const type = TYPES[v.btype] ? TYPES[v.btype][0] : "";
    const out = {};
    for (const row of APPLIES) {
      const holds = row.types ? row.types.includes(v.btype) : row.when(v);
      if (holds || out[row.name] !== undefined) continue;
      const reason = row.why(type, v.btype, v);
      out[row.name] = row.option ? { values: row.option, reason: reason } : reason;
    }
    return out;
  }

  // A line under the text: which check character the program adds or
  // replaces, and what cchk and schk do to it, for the values now set.
  function checkLine(raws) {
    const v = effectiveValues(raws);
    const c = CHECKS[v.btype];
    const type = TYPES[v.btype][0];
    const shown = v.schk ? "shows it in the text (schk on)" :
      "leaves it out of the text (schk off)";
    switch (c.how) {
      case "optional":
        return v.cchk ? "The program adds " + c.what + " (cchk on) and " + shown + "." :
          "No check character: cchk is off, so " + type + " is drawn without " + c.what + ".";
      case "always":
        return "The program always adds " + c.what + " (cchk changes nothing) and " + shown + ".";
      case "replaces":
        return "The program computes " + c.what + " and draws it in place of the " +
          ordinal(c.at) + " digit you type (cchk changes nothing); it " + shown + ".";
      case "hidden":
        return "The program adds " + c.what + " and never shows it; check digits inside " +
          "the data, such as that of <AI01>, are yours to give (cchk and schk change nothing).";
      default:
        return type + " has no check character: cchk and schk change nothing.";
    }
  }

  // The positions of replaced check digits run from 8 to 20.
  function ordinal(n) {
    return n + "th";
  }

  // A note when the text holds the digit that the program replaces, so
  // that a wrong one typed is not swapped silently.
  function typedCheckNote(btype, data) {
    const c = CHECKS[btype];
    if (!c || c.how !== "replaces" || data.length !== c.at || !/^\d+$/.test(data)) return "";
    return "The " + ordinal(c.at) + " digit you typed, " + data[c.at - 1] +
      ", is not read: the program draws its own check digit, the last one shown " +
      "under the bars while schk is on.";
  }

  // A text the page wrote (an example, the default) follows the type; one
  // the person wrote stays.
  function textForType(data, own, btype) {
    return own ? data : TYPES[btype][1];
  }

  // Whether a text read from an address is the person's own: the default
  // and the type's example are the page's.
  function ownText(data, btype) {
    return data !== null && data !== DEFAULT_DATA && !(TYPES[btype] && data === TYPES[btype][1]);
  }

  const ALT_TEXT_LIMIT = 80;

  function altText(btype, data) {
    const type = TYPES[btype][0];
    if (data.length <= ALT_TEXT_LIMIT) return type + " barcode of " + data;
    return type + " barcode of " + data.length + " characters, beginning " +
      data.slice(0, ALT_TEXT_LIMIT - 20) + "\u2026";
  }

  // A file name for the image: the type and the text, in characters every
  // file system takes.
  function downloadName(btype, data, fmt) {
    const part = (s, n) => s.replace(/[^A-Za-z0-9._-]+/g, "_").replace(/^[._]+|[._]+$/g, "")
      .slice(0, n);
    const type = part(TYPES[btype][0].toLowerCase().replace(/[ /]+/g, "-"), 30);
    const text = part(data, 40);
    return type + (text ? "_" + text : "") + "." + (fmt === "svg" ? "svg" : "png");
  }

  function escapeHtml(text) {
    return text.replace(/&/g, "&amp;").replace(/"/g, "&quot;")
      .replace(/</g, "&lt;").replace(/>/g, "&gt;");
  }

  function snippet(url, alt) {
    return '<img src="' + escapeHtml(url) + '" alt="' + escapeHtml(alt) + '">';
  }

  // Reads a page address like the program reads its request: a value it
  // would ignore leaves the default. Gives the controls' contents.
  function readParams(params) {
    const raws = {};
    for (const p of PARAMS) {
      raws[p.name] = p.def;
      const raw = params.get(p.name);
      if (raw === null) continue;
      if (p.kind === "bool") raws[p.name] = atoi(raw) !== 0;
      else if (p.kind === "colour") raws[p.name] = hexColour(raw);
      else if (p.kind === "real") raws[p.name] = parseFloat(raw) > 0 ? parseFloat(raw) : p.def;
      else if (p.kind === "int") raws[p.name] = atoi(raw);
      else if (p.kind === "word") raws[p.name] = p.words.includes(raw) ? raw : p.def;
      else raws[p.name] = atoi(raw);
    }
    const data = params.get("data");
    return { raws: raws, data: data === null ? DEFAULT_DATA : data, given: data };
  }

  return {
    TYPES, DEFAULT_DATA, REQUEST_LIMIT, PARAMS, PARAM, CHECKS, APPLIES,
    atoi, hexColour, requestValue, effectiveValues, notSent, encodeData, buildQuery,
    requestUrl, debugQuery, lengthState, lengthLine, reflectance, hints, notApplicable,
    checkLine, typedCheckNote, textForType, ownText, altText, downloadName, escapeHtml, snippet,
    readParams,
  };
})();

// Stryker disable next-line all: node, which runs the mutants, always has a module; the
// browser, which has none, is the browser suite's
if (typeof module !== "undefined") module.exports = StrixelRules;

// --- The page ----------------------------------------------------------------

if (typeof document !== "undefined") (function (R) {
  const $ = (id) => document.getElementById(id);
  const DEBOUNCE_MS = 250;
  let cgi = "/cgi-bin/strixel.cgi";
  let cgiFromAddress = null;
  let generation = 0;
  let timer = 0;
  let shown = { key: null, state: null };
  // Whether the text is the person's (kept on a change of type).
  let ownText = false;
  // The control whose edits the current history entry collects; a change
  // event closes it, so the next edit gets an entry of its own.
  let editing = null;
  let announced = new Set();

  // --- Controls <-> values ---------------------------------------------------

  function controlValue(p) {
    const el = $(p.name);
    switch (p.kind) {
      case "bool": return el.checked;
      case "colour": return el.value.slice(1).toLowerCase();
      case "choice": return Number(el.value);
      default: return el.value;
    }
  }

  function raws() {
    const out = {};
    for (const p of R.PARAMS) out[p.name] = controlValue(p);
    return out;
  }

  function setControl(p, value) {
    const el = $(p.name);
    if (p.kind === "bool") el.checked = value;
    else if (p.kind === "colour") el.value = "#" + value;
    else el.value = value === null ? "" : String(value);
  }

  function btype() {
    return Number($("btype").value);
  }

  // --- Notes beside the controls ---------------------------------------------

  // A note paragraph of one kind under a control, made on first use and
  // named by the control's aria-describedby.
  function note(name, kind) {
    const id = name + "-" + kind;
    let el = $(id);
    if (!el) {
      el = document.createElement("p");
      el.id = id;
      el.className = kind === "error" ? "field-error" : kind;
      el.hidden = true;
      $(name).closest(".field").appendChild(el);
      const by = $(name).getAttribute("aria-describedby");
      $(name).setAttribute("aria-describedby", (by ? by + " " : "") + id);
    }
    return el;
  }

  function setNote(name, kind, text) {
    const el = text || $(name + "-" + kind) ? note(name, kind) : null;
    if (!el) return;
    el.textContent = text || "";
    el.hidden = !text;
  }

  function clearErrors() {
    for (const el of document.querySelectorAll(".field-error")) {
      el.hidden = true;
      el.textContent = "";
    }
    for (const el of document.querySelectorAll("[aria-invalid]")) {
      el.removeAttribute("aria-invalid");
    }
  }

  function flagField(name, message) {
    $(name).setAttribute("aria-invalid", "true");
    setNote(name, "error", message);
  }

  // Says once, through the polite live region, what newly appeared.
  function announce(texts) {
    const fresh = texts.filter((t) => !announced.has(t));
    announced = new Set(texts);
    if (fresh.length) $("announce").textContent = fresh.join(" ");
  }

  // Greys the options the type leaves alone and says why; the control
  // stays usable, and its value is still sent. Options of a select that do
  // nothing are disabled, unless chosen.
  function showApplicability(values) {
    const na = R.notApplicable(values);
    for (const name of new Set(R.APPLIES.map((row) => row.name))) {
      const reason = na[name];
      const some = typeof reason === "object";
      const control = $(name);
      if (control.tagName === "SELECT") {
        for (const o of control.options) {
          o.disabled = some && reason.values.includes(Number(o.value)) &&
            o.value !== control.value;
        }
      }
      control.closest(".field").classList.toggle("inapplicable", typeof reason === "string");
      setNote(name, "na", typeof reason === "string" ? "No effect: " + reason + "." :
        some ? reason.values.join(", ") + " do nothing here: " + reason.reason + "." : "");
    }
  }

  function showHints(values) {
    const list = R.hints(values);
    const box = $("hints");
    box.textContent = "";
    for (const name of ["w2n", "bred", "fcolor"]) setNote(name, "warn", "");
    for (const h of list) {
      const li = document.createElement("li");
      li.textContent = h.text;
      box.appendChild(li);
      setNote(h.field, "warn", h.text);
    }
    box.hidden = list.length === 0;
    return list.map((h) => h.text);
  }

  function showTextNotes(values, data) {
    const t = R.TYPES[btype()];
    $("data-hint").textContent = t[0] + " takes " + t[2] + ".";
    $("example-text").textContent = t[1];
    $("data-check").textContent = R.checkLine(values);
    setNote("data", "typed", R.typedCheckNote(btype(), data));
  }

  // --- Showing the result ----------------------------------------------------

  function setState(state) {
    $("frame").dataset.state = state;
    const dl = $("download");
    if (state === "error") {
      dl.removeAttribute("href");
      dl.setAttribute("aria-disabled", "true");
    } else {
      dl.removeAttribute("aria-disabled");
    }
  }

  function showError(message, detail) {
    const img = $("barcode");
    img.hidden = true;
    img.removeAttribute("src");
    const box = $("error");
    box.textContent = "";
    const strong = document.createElement("strong");
    strong.textContent = message;
    box.appendChild(strong);
    if (detail) {
      const p = document.createElement("p");
      p.textContent = detail;
      box.appendChild(p);
    }
    const again = document.createElement("button");
    again.type = "button";
    again.id = "retry";
    again.textContent = "Try again";
    again.addEventListener("click", () => update({ force: true }));
    box.appendChild(again);
    box.hidden = false;
    setState("error");
    shown.state = "error";
    $("size").textContent = "No image";
  }

  // Names the parameter or text behind an error message of the program.
  function blame(message, data) {
    const type = R.TYPES[btype()][0];
    if (/Invalid barcode text/.test(message)) {
      if (data === "") {
        flagField("data", "Enter a text: " + type + " takes " + R.TYPES[btype()][2] + ".");
        return "Enter a text to draw.";
      }
      flagField("data", "Not a valid text for " + type + ": " + R.TYPES[btype()][2] + ".");
      return "The text is not valid for " + type + ".";
    }
    // Too small a box, or an image too large to create: the size fields
    // that were changed, else the box itself.
    const tooLarge = /PNG creator/.test(message);
    if (tooLarge || /Invalid barcode size/.test(message)) {
      const values = raws();
      const sizes = R.PARAMS.filter((p) => p.size &&
        typeof R.requestValue(p, values[p.name]) === "string");
      const blamed = sizes.length ? sizes : [R.PARAM.w, R.PARAM.h];
      const why = tooLarge ? "The image would be too large" : "The barcode does not fit the image";
      for (const p of blamed) flagField(p.name, why + " with this value.");
      return why + ": check " + blamed.map((p) => p.name).join(", ") + ".";
    }
    if (/barcode type/.test(message)) {
      flagField("btype", type + " cannot be drawn as an image.");
      return type + " draws no image.";
    }
    return "";
  }

  // Asks again with debug=1, which answers a failure with the program's
  // HTML error page, and shows that page's text.
  async function explainFailure(query, data, mine) {
    const length = R.lengthState(query);
    if (length !== "ok") {
      flagField("data", length === "too-long" ? "The request is too long." :
        "The request is too long for the page to ask why it was refused.");
      showError(length === "too-long" ?
        "The request is longer than " + R.REQUEST_LIMIT +
          " characters, so the program answers nothing." :
        "The program drew no image, and the page cannot ask why: asking adds debug=1, " +
        "which takes the request past " + R.REQUEST_LIMIT + " characters.",
      "Shorten the text by " + (R.debugQuery(query).length - R.REQUEST_LIMIT) +
        " characters or more to see the reason.");
      return;
    }
    let message = "";
    let unreachable = false;
    try {
      const answer = await fetch(R.requestUrl(cgi, R.debugQuery(query)), { cache: "no-store" });
      const type = answer.headers.get("Content-Type") || "";
      if (answer.ok && type.startsWith("text/html")) {
        const page = new DOMParser().parseFromString(await answer.text(), "text/html");
        message = page.body ? page.body.textContent.trim() : "";
      } else {
        message = "The program gave no error text (HTTP " + answer.status + ").";
      }
    } catch (e) {
      unreachable = true;
      message = "The program could not be reached at " + cgi + ".";
    }
    if (mine !== generation) return;
    showError(message, unreachable ? "Check that the server runs, then try again." :
      blame(message, data));
  }

  // Shows the request whole up to a few lines; longer ones scroll.
  function fitHeight(area) {
    area.style.height = "auto";
    area.style.height = area.scrollHeight + 2 + "px";
  }

  // --- Updating --------------------------------------------------------------

  // One pass from the controls to the request, the notes and the image.
  // how.force asks again even for the request already shown; how.source is
  // the control edited (its edits share one history entry); how.history
  // false leaves the history alone (Back and Forward).
  function update(how) {
    how = how || {};
    window.clearTimeout(timer);
    const values = raws();
    const data = $("data").value;
    const built = R.buildQuery(values, data);
    const url = R.requestUrl(cgi, built.query);
    const key = url + " " + built.ignored.join(",");
    // A change event after the input events that already asked for this;
    // a request that failed is asked again.
    if (key === shown.key && shown.state !== "error" && !how.force) return;
    shown = { key: key, state: "loading" };
    const mine = ++generation;
    clearErrors();
    const notes = [];
    for (const name of built.ignored) {
      const text = R.notSent(R.PARAM[name]);
      flagField(name, text);
      notes.push(name + ": " + text);
    }
    showTextNotes(values, data);
    showApplicability(values);
    notes.push(...showHints(values));
    announce(notes);
    $("data-length").textContent = R.lengthLine(built.query);
    $("data-length").classList.toggle("over", R.lengthState(built.query) !== "ok");
    const full = new URL(url, window.location.href).href;
    const alt = R.altText(btype(), data);
    $("url").value = full;
    $("snippet").value = R.snippet(full, alt);
    fitHeight($("url"));
    fitHeight($("snippet"));
    $("copy-status").textContent = "";
    for (const p of R.PARAMS.filter((q) => q.kind === "colour")) {
      $(p.name + "-value").value = values[p.name];
    }
    recordHistory(built.query, how);
    const dl = $("download");
    dl.href = url;
    dl.download = R.downloadName(btype(), data, values.fmt);
    setState("loading");
    $("size").textContent = "Loading\u2026";
    const img = $("barcode");
    img.onload = () => {
      if (mine !== generation) return;
      shown.state = "image";
      setState("image");
      $("size").textContent = img.naturalWidth + " \u00d7 " + img.naturalHeight + " pixels";
    };
    img.onerror = () => {
      if (mine === generation) explainFailure(built.query, data, mine);
    };
    img.alt = alt;
    img.hidden = false;
    $("error").hidden = true;
    if (how.force) img.removeAttribute("src");
    img.src = url;
  }

  function recordHistory(query, how) {
    if (how.history === false) return;
    let state = query;
    if (cgiFromAddress !== null) {
      state += (state ? "&" : "") + "cgi=" + encodeURIComponent(cgiFromAddress);
    }
    const address = state ? "?" + state : window.location.pathname;
    if (address === (window.location.search || window.location.pathname)) return;
    // Edits of one control, until it is left, make one step of Back.
    const same = how.source && how.source === editing;
    if (how.first || same) window.history.replaceState(null, "", address);
    else window.history.pushState(null, "", address);
    editing = how.source || null;
  }

  function schedule(source) {
    window.clearTimeout(timer);
    timer = window.setTimeout(() => update({ source: source }), DEBOUNCE_MS);
  }

  // --- Start -----------------------------------------------------------------

  // The program's address: the page's data-cgi, or ?cgi= when it stays on
  // this server (the page never talks to another one).
  function chooseCgi(params) {
    cgi = document.body.dataset.cgi || cgi;
    const asked = params.get("cgi");
    if (asked !== null) {
      try {
        if (new URL(asked, window.location.href).origin === window.location.origin) {
          cgi = asked;
          cgiFromAddress = asked;
        }
      } catch (e) {
        // Not an address: keep the default.
      }
    }
    $("help-link").href = cgi + "?help=1";
  }

  // Fills the controls from the page's address.
  function readAddress() {
    const read = R.readParams(new URLSearchParams(window.location.search));
    for (const p of R.PARAMS) {
      const select = $(p.name).options;
      const value = read.raws[p.name];
      if (select && ![...select].some((o) => o.value === String(value))) {
        setControl(p, p.def);
      } else {
        setControl(p, value);
      }
    }
    $("data").value = read.data;
    ownText = R.ownText(read.given, btype());
  }

  function resetOptions() {
    for (const p of R.PARAMS) {
      if (p.name !== "btype" && p.name !== "fmt") setControl(p, p.def);
    }
    update({});
  }

  async function copy(button) {
    const field = $(button.dataset.copy);
    let done = false;
    try {
      await navigator.clipboard.writeText(field.value);
      done = true;
    } catch (e) {
      field.select();
      done = document.execCommand("copy");
    }
    $("copy-status").textContent = done ? "Copied." : "Select the text and copy it.";
  }

  // Keeps the top of the page clear of the image that stays in view on a
  // phone, so a control scrolled to is not hidden under it.
  function watchPreviewHeight() {
    const preview = $("preview");
    const set = () => {
      const sticky = window.getComputedStyle(preview).position === "sticky" &&
        window.matchMedia("(max-width: 49.99rem)").matches;
      document.documentElement.style.scrollPaddingTop = sticky ?
        preview.getBoundingClientRect().height + 8 + "px" : "";
    };
    if (window.ResizeObserver) new ResizeObserver(set).observe(preview);
    window.addEventListener("resize", set);
    set();
  }

  function wire() {
    $("btype").addEventListener("change", () => {
      $("data").value = R.textForType($("data").value, ownText, btype());
      update({});
    });
    for (const el of document.querySelectorAll("main input:not([readonly]), main select")) {
      if (el.id === "btype") continue;
      el.addEventListener("input", () => {
        if (el.id === "data") ownText = true;
        schedule(el.id);
      });
      el.addEventListener("change", () => {
        update({ source: el.id });
        editing = null;
      });
      // Enter asks again, also for the request already shown.
      el.addEventListener("keydown", (e) => {
        if (e.key === "Enter" && el.tagName === "INPUT") update({ source: el.id, force: true });
      });
    }
    $("example").addEventListener("click", () => {
      $("data").value = R.TYPES[btype()][1];
      ownText = false;
      update({});
    });
    $("reset").addEventListener("click", resetOptions);
    for (const button of document.querySelectorAll("button.copy")) {
      button.addEventListener("click", () => copy(button));
    }
    window.addEventListener("popstate", () => {
      readAddress();
      editing = null;
      update({ history: false });
    });
  }

  function start() {
    chooseCgi(new URLSearchParams(window.location.search));
    readAddress();
    wire();
    watchPreviewHeight();
    update({ first: true });
  }

  start();
})(StrixelRules);
