// The try page: turns the controls into a request to the program, shows the
// image (or the program's own error text) and keeps the state in the page's
// address so that a link shows the same barcode.
"use strict";

(function () {
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
  const REQUEST_LIMIT = 3600;
  const DEBOUNCE_MS = 250;

  // Every parameter but data, in request order. kind: int (number field,
  // empty meaning "not given"), real, choice (select of ints), bool, colour.
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
  ];

  const $ = (id) => document.getElementById(id);
  let cgi = "/cgi-bin/strixel.cgi";
  let cgiFromAddress = null;
  let generation = 0;
  let timer = 0;
  let shownKey = null;

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

  // --- Controls <-> values ---------------------------------------------------

  function fieldValue(p) {
    const el = $(p.name);
    switch (p.kind) {
      case "bool": return el.checked;
      case "colour": return el.value.slice(1).toLowerCase();
      case "choice": return Number(el.value);
      default: return el.value.trim();
    }
  }

  // The value to send, null for the default, or undefined when the field
  // holds something the program would ignore.
  function requestValue(p) {
    const v = fieldValue(p);
    if (p.kind === "bool") return v === p.def ? null : (v ? "1" : "0");
    if (p.kind === "colour" || p.kind === "choice") {
      return v === p.def ? null : String(v);
    }
    if (v === "") return null;
    if (p.kind === "real") {
      const r = Number(v);
      if (!Number.isFinite(r) || r <= 0) return undefined;
      return r === p.def ? null : String(r);
    }
    if (!/^[+-]?\d+$/.test(v) || !inRange(p, Number(v))) return undefined;
    return Number(v) === p.def ? null : String(Number(v));
  }

  function setField(p, value) {
    const el = $(p.name);
    if (p.kind === "bool") el.checked = value;
    else if (p.kind === "colour") el.value = "#" + value;
    else el.value = value === null ? "" : String(value);
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

  // --- The request -----------------------------------------------------------

  // The query text and the fields the program would ignore.
  function buildQuery() {
    const parts = [];
    const ignored = [];
    for (const p of PARAMS) {
      const v = requestValue(p);
      if (v === undefined) ignored.push(p);
      else if (v !== null) parts.push(p.name + "=" + v);
    }
    const data = $("data").value;
    if (data === "") {
      // The program finds an empty value only when an "&" follows it.
      parts.unshift("data=");
      if (parts.length === 1) parts.push("");
    } else if (data !== DEFAULT_DATA) {
      parts.push("data=" + encodeURIComponent(data));
    }
    return { query: parts.join("&"), ignored: ignored };
  }

  function requestUrl(query) {
    return query === "" ? cgi : cgi + "?" + query;
  }

  function absolute(url) {
    return new URL(url, window.location.href).href;
  }

  function escapeHtml(text) {
    return text.replace(/&/g, "&amp;").replace(/"/g, "&quot;")
      .replace(/</g, "&lt;").replace(/>/g, "&gt;");
  }

  function altText() {
    const type = TYPES[Number($("btype").value)][0];
    return type + " barcode of " + $("data").value;
  }

  // --- Showing the result ----------------------------------------------------

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
    const box = $(name + "-error");
    if (box) {
      box.textContent = message;
      box.hidden = false;
    }
  }

  function showImage(url) {
    const img = $("barcode");
    img.alt = altText();
    img.hidden = false;
    $("error").hidden = true;
    img.src = url;
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
    box.hidden = false;
    $("frame").dataset.state = "error";
    $("size").textContent = "No image";
  }

  // Names the parameter or text behind an error message of the program.
  function blame(message) {
    const btype = Number($("btype").value);
    const type = TYPES[btype][0];
    if (/Invalid barcode text/.test(message)) {
      flagField("data", "Not a valid text for " + type + ": " + TYPES[btype][2] + ".");
      return "The text is not valid for " + type + ".";
    }
    // Too small a box, or an image too large to create: the size fields
    // that were changed, else the box itself.
    const tooLarge = /PNG creator/.test(message);
    if (tooLarge || /Invalid barcode size/.test(message)) {
      const sizes = PARAMS.filter((p) => p.size && typeof requestValue(p) === "string");
      const blamed = sizes.length ? sizes : PARAMS.filter((p) => p.name === "w" || p.name === "h");
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
  async function explainFailure(query, mine) {
    if (query.length > REQUEST_LIMIT) {
      flagField("data", "The request is too long.");
      showError("The request is longer than " + REQUEST_LIMIT +
        " characters, so the program answers nothing.");
      return;
    }
    let message = "";
    try {
      const answer = await fetch(requestUrl(query === "" ? "debug=1" : query + "&debug=1"));
      const type = answer.headers.get("Content-Type") || "";
      if (answer.ok && type.startsWith("text/html")) {
        const page = new DOMParser().parseFromString(await answer.text(), "text/html");
        message = page.body ? page.body.textContent.trim() : "";
      } else {
        message = "The program gave no error text (HTTP " + answer.status + ").";
      }
    } catch (e) {
      message = "The program could not be reached at " + cgi + ".";
    }
    if (mine !== generation) return;
    showError(message, blame(message));
  }

  // Shows the whole request, however long the text.
  function fitHeight(area) {
    area.style.height = "auto";
    area.style.height = area.scrollHeight + 2 + "px";
  }

  // --- Updating --------------------------------------------------------------

  function update() {
    window.clearTimeout(timer);
    const built = buildQuery();
    const url = requestUrl(built.query);
    // A change event after the input events that already asked for this.
    const key = url + " " + built.ignored.map((p) => p.name).join(",");
    if (key === shownKey) return;
    shownKey = key;
    const mine = ++generation;
    clearErrors();
    for (const p of built.ignored) {
      flagField(p.name, notSent(p));
    }
    const full = absolute(url);
    $("url").value = full;
    $("snippet").value = '<img src="' + escapeHtml(full) + '" alt="' + escapeHtml(altText()) + '">';
    fitHeight($("url"));
    fitHeight($("snippet"));
    let state = built.query;
    if (cgiFromAddress !== null) {
      state += (state ? "&" : "") + "cgi=" + encodeURIComponent(cgiFromAddress);
    }
    for (const p of PARAMS.filter((q) => q.kind === "colour")) {
      $(p.name + "-value").value = fieldValue(p);
    }
    window.history.replaceState(null, "", state ? "?" + state : window.location.pathname);
    $("size").textContent = "Loading\u2026";
    $("frame").dataset.state = "loading";
    const img = $("barcode");
    img.onload = () => {
      if (mine !== generation) return;
      $("frame").dataset.state = "image";
      $("size").textContent = img.naturalWidth + " \u00d7 " + img.naturalHeight + " pixels";
    };
    img.onerror = () => {
      if (mine === generation) explainFailure(built.query, mine);
    };
    showImage(url);
  }

  function schedule() {
    window.clearTimeout(timer);
    timer = window.setTimeout(update, DEBOUNCE_MS);
  }

  function showTypeHelp() {
    const t = TYPES[Number($("btype").value)];
    $("data-hint").textContent = t[0] + " takes " + t[2] + ".";
    $("example-text").textContent = t[1];
  }

  // A text that is some type's example (or none) follows the type; one the
  // person wrote stays.
  function onTypeChange(previous) {
    const data = $("data").value;
    const wasExample = data === "" || data === DEFAULT_DATA ||
      Object.values(TYPES).some((t) => t[1] === data);
    if (wasExample && previous !== Number($("btype").value)) {
      $("data").value = TYPES[Number($("btype").value)][1];
    }
    showTypeHelp();
    update();
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

  // Fills the controls from the page's address, read like the program reads
  // its request: a value it would ignore leaves the default.
  function readAddress(params) {
    for (const p of PARAMS) {
      setField(p, p.def);
      const raw = params.get(p.name);
      if (raw === null) continue;
      if (p.kind === "bool") setField(p, atoi(raw) !== 0);
      else if (p.kind === "colour") setField(p, hexColour(raw));
      else if (p.kind === "real") setField(p, parseFloat(raw) > 0 ? parseFloat(raw) : p.def);
      else if (p.kind === "int") setField(p, atoi(raw));
      else if ([...$(p.name).options].some((o) => Number(o.value) === atoi(raw))) {
        setField(p, atoi(raw));
      }
    }
    const data = params.get("data");
    $("data").value = data === null ? DEFAULT_DATA : data;
  }

  function resetOptions() {
    for (const p of PARAMS) {
      if (p.name !== "btype") setField(p, p.def);
    }
    update();
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

  function wire() {
    let previousType = Number($("btype").value);
    $("btype").addEventListener("change", () => {
      onTypeChange(previousType);
      previousType = Number($("btype").value);
    });
    for (const el of document.querySelectorAll("main input:not([readonly]), main select")) {
      if (el.id === "btype") continue;
      el.addEventListener("input", schedule);
      el.addEventListener("change", update);
    }
    $("example").addEventListener("click", () => {
      $("data").value = TYPES[Number($("btype").value)][1];
      update();
    });
    $("reset").addEventListener("click", resetOptions);
    for (const button of document.querySelectorAll("button.copy")) {
      button.addEventListener("click", () => copy(button));
    }
  }

  function start() {
    const params = new URLSearchParams(window.location.search);
    chooseCgi(params);
    readAddress(params);
    showTypeHelp();
    wire();
    update();
  }

  start();
})();
