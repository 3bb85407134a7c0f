// The try page's rules without a browser: what goes into a request, the
// hints, which options a type uses and the check character line. Each row
// is a fact about the program or the readers, not about this code.
"use strict";

const test = require("node:test");
const assert = require("node:assert");
const R = require("../../web/app.js");

// The controls as the page starts, with some changed.
function controls(changes) {
  const raws = {};
  for (const p of R.PARAMS) raws[p.name] = p.kind === "int" || p.kind === "real" ? "" : p.def;
  return Object.assign(raws, changes || {});
}

test("a value goes into the request as the program reads it", () => {
  const rows = [
    ["w", "699", "699"], ["w", "800", undefined], ["w", "0", undefined],
    ["w", "abc", undefined], ["w", " ", null], ["xdim", "2.5", undefined],
    ["xdim", "2", null], ["fh", "+20", "20"], ["bred", "-150", "-150"],
    ["w2n", "2.5", null], ["w2n", "0", undefined], ["w2n", "-1", undefined],
    ["w2n", "1e1", "10"], ["w2n", ".5", "0.5"], ["w2n", "3x", undefined],
    ["quiet", false, "0"], ["stst", true, "1"], ["schk", true, null],
    ["bcolor", "ffffff", null], ["fcolor", "ff0000", "ff0000"],
    ["c128", 3, "3"], ["angle", 0, null], ["fmt", "svg", "svg"],
    ["fmt", "png", null], ["fmt", "gif", null],
    // atoi reads 0x10 and strtod 0b11 as 0; a number field not given at all is not sent.
    ["w", "1", "1"], ["w", "0x10", undefined], ["w2n", "0b11", undefined], ["w", null, null],
    ["h", undefined, null], ["w2n", "+12.5e-01", "1.25"], ["w2n", "+.25", "0.25"],
  ];
  for (const [name, raw, sent] of rows) {
    assert.strictEqual(R.requestValue(R.PARAM[name], raw), sent, name + "=" + raw);
  }
  const used = R.effectiveValues(controls({ stst: true, quiet: false, fmt: "svg", w2n: "x" }));
  assert.deepStrictEqual([used.stst, used.quiet, used.fmt, used.w2n], [true, false, "svg", 2.5]);
  // The fields blamed when the barcode does not fit: those that set its size.
  assert.deepStrictEqual(R.PARAMS.filter((p) => p.size).map((p) => p.name),
    ["w", "h", "xdim", "fh", "w2n"]);
});

test("a value left out says what the program takes", () => {
  const rows = [
    ["w", "a whole number from 1 to 699"], ["fh", "a whole number of 1 or more"],
    ["bred", "a whole number"], ["w2n", "a number above 0"],
  ];
  for (const [name, takes] of rows) {
    assert.strictEqual(R.notSent(R.PARAM[name]), "Not sent: give " + takes + ".");
  }
});

test("the text is sent as short as the program still decodes it", () => {
  const rows = [
    ["A B", "A+B"], ["a&b=c", "a%26b%3Dc"], ["1+1", "1%2B1"], ["100%", "100%25"],
    ["$/:@,;?", "$/:@,;?"], ["#1", "%231"], ["<AI01>", "%3CAI01%3E"], ["\u00e9", "%C3%A9"],
  ];
  for (const [text, sent] of rows) assert.strictEqual(R.encodeData(text), sent, text);
});

test("a request holds only what differs from the defaults", () => {
  const rows = [
    [{}, "1234567", "", []],
    [{}, "", "data=&", []],
    [{ btype: 11 }, "", "data=&btype=11", []],
    [{ btype: 2, w2n: "1" }, "A", "btype=2&w2n=1&data=A", []],
    [{ w2n: "abc", w: "800" }, "A", "data=A", ["w", "w2n"]],
    [{ fmt: "svg", bred: "10" }, "A", "bred=10&fmt=svg&data=A", []],
  ];
  for (const [changes, data, query, ignored] of rows) {
    assert.deepStrictEqual(R.buildQuery(controls(changes), data), { query, ignored });
  }
  assert.strictEqual(R.requestUrl("/s.cgi", ""), "/s.cgi");
  assert.strictEqual(R.requestUrl("/s.cgi", "btype=2"), "/s.cgi?btype=2");
});

test("the length limit counts the debug retry", () => {
  const rows = [[3592, "ok"], [3593, "no-debug"], [3600, "no-debug"], [3601, "too-long"]];
  for (const [n, state] of rows) assert.strictEqual(R.lengthState("x".repeat(n)), state, n);
  assert.strictEqual(R.debugQuery(""), "debug=1");
  assert.match(R.lengthLine("data=%25"), /^Request: 8 of 3600 characters\. .*three/);
  assert.match(R.lengthLine("x".repeat(3593)), /debug=1 needs 8 more\)\.$/);
  assert.match(R.lengthLine("x".repeat(3602)), /, 2 too many/);
});

test("hints for settings readers refuse, never for sound ones", () => {
  // [changes, fields hinted at, what the hints say]
  const rows = [
    [{ btype: 2, w2n: "2" }, []], [{ btype: 2, w2n: "1.99" }, ["w2n"], new RegExp(
      "^A wide to narrow ratio of 1.99 makes wide and narrow elements of Code 39 hard to " +
      "tell apart: readers want 2 to 3\\.$")],
    [{ btype: 2, w2n: "3" }, []], [{ btype: 2, w2n: "3.01" }, ["w2n"],
      /^A wide to narrow ratio of 3.01 makes the wide elements of Code 39 wider than readers/],
    [{ btype: 0, w2n: "1" }, ["w2n"]], [{ btype: 7, w2n: "1" }, []],
    [{ btype: 2, w2n: "abc" }, []],
    [{ bred: "50" }, []], [{ bred: "51" }, ["bred"], new RegExp("^A reduction of 51 % takes " +
      "more than half a module off every bar: readers want bars of at least half their width")],
    [{ bred: "100" }, ["bred"], /off every bar, so narrow bars vanish: readers/],
    [{ bred: "-50" }, []], [{ bred: "-51" }, ["bred"], new RegExp("^A reduction of -51 % " +
      "widens every bar by more than half a module, so narrow spaces shrink to less than half")],
    [{ fcolor: "ffffff" }, ["fcolor"], new RegExp("^The bars are not darker than the " +
      "background: readers look for dark bars on a light background\\.$")],
    [{ fcolor: "ffffff", bcolor: "000000" }, ["fcolor"]],
    [{ fcolor: "bbbbbb" }, []], [{ fcolor: "cccccc" }, ["fcolor"]],
    [{ fcolor: "ff0000" }, ["fcolor"], new RegExp("^Bars and background differ by 0 % in " +
      "lightness in the red light of laser scanners: readers want 40 % or more\\.$")],
    [{ fcolor: "808080", bcolor: "bbbbbb" }, ["fcolor"], /differ by 28 % in lightness: readers/],
    [{ fcolor: "0000ff" }, []],
    [{ fcolor: "000000", bcolor: "ffff00" }, []],
    [{ fcolor: "000000", bcolor: "ff0000" }, ["fcolor"]],
    [{ fcolor: "000000", bcolor: "0000ff" }, ["fcolor"]],
  ];
  for (const [changes, fields, says] of rows) {
    const hints = R.hints(controls(changes));
    assert.deepStrictEqual(hints.map((h) => h.field), fields, JSON.stringify(changes));
    if (says) assert.match(hints.map((h) => h.text).join(" "), says);
  }
});

test("reflectance is the sRGB relative luminance, and red alone", () => {
  // [colour, luminance, red channel], as the formula's published tables give them
  const rows = [
    ["808080", 0.2158605, 0.2158605], ["010101", 0.0003035, 0.0003035],
    ["0000ff", 0.0722, 0], ["ff0000", 0.2126, 1],
  ];
  for (const [colour, day, red] of rows) {
    const got = R.reflectance(colour);
    assert.ok(Math.abs(got.day - day) < 1e-7 && Math.abs(got.red - red) < 1e-7, colour);
  }
});

test("options a type leaves alone, and only those", () => {
  // [changes, option, applies: true, false or the reason it does not]
  const rows = [
    [{ btype: 11 }, "guard", true], [{ btype: 14 }, "guard", true],
    [{ btype: 8 }, "guard", /^EAN-2 has no guard bars; only EAN-8, EAN-13, UPC-A and UPC-E have$/],
    [{ btype: 7 }, "c128", true], [{ btype: 15 }, "c128", false],
    [{ btype: 12 }, "c128", /^EAN-14 chooses its character sets itself; only Code 128 takes c128$/],
    [{ btype: 2 }, "talign", /^they lay out the digits of EAN-8, EAN-13, UPC-A and UPC-E only$/],
    [{ btype: 21 }, "w2n", true], [{ btype: 4 }, "w2n", true],
    [{ btype: 19 }, "w2n", /^Code 93 has no wide elements$/],
    [{ btype: 17 }, "w2n", false], [{ btype: 6 }, "cchk", true], [{ btype: 17 }, "cchk", true],
    [{ btype: 7 }, "cchk", /^Code 128 always adds its check character$/],
    [{ btype: 5 }, "cchk", /^Codabar has no check character$/],
    [{ btype: 4 }, "cchk", /^Code 11 has no/], [{ btype: 8 }, "cchk", /^EAN-2 has no/],
    [{ btype: 9 }, "cchk", /^EAN-5 has no/],
    [{ btype: 15 }, "schk", /^UCC\/EAN-128 never shows its check character$/],
    [{ btype: 5 }, "schk", /^Codabar has no check character$/], [{ btype: 7 }, "schk", true],
    [{ btype: 6 }, "schk", true], [{ btype: 11 }, "schk", true],
    [{ btype: 2, cchk: false }, "schk", /^no check character is added while cchk is off$/],
    [{ btype: 7, cchk: false }, "schk", true],
    [{ btype: 5 }, "stst", true], [{ btype: 19 }, "stst", /^Code 93 shows no start and stop/],
    [{ btype: 20 }, "ntxt", true],
    [{ btype: 7 }, "ntxt", /^only Code 39 Extended and Code 93 Extended carry non-printing/],
    // Every text option, each for that first reason only.
    ...["tdown", "fh", "tcolor", "talign", "stst", "schk", "ntxt"].map((name) =>
      [{ text: false, btype: 2 }, name, /^no text is drawn while text is off$/]),
    [{ text: false }, "fh", false], [{ text: false }, "tcolor", false], [{}, "fh", true],
    [{ w: "300" }, "xdim", /^the fixed width w sets the module width$/],
    [{ w: "300", angle: 180 }, "xdim", /^the fixed width w/],
    [{ w: "300", angle: 90 }, "xdim", true],
    [{ h: "300", angle: 270 }, "xdim", /^the fixed height h sets/], [{ w: "800" }, "xdim", true],
  ];
  for (const [changes, name, applies] of rows) {
    const reason = R.notApplicable(controls(changes))[name];
    const label = name + " " + JSON.stringify(changes);
    if (applies instanceof RegExp) assert.match(reason.reason || reason, applies, label);
    else assert.strictEqual(reason === undefined, applies, label);
  }
  assert.deepStrictEqual(R.notApplicable(controls({ btype: 2 })).talign.values, [4, 5, 6]);
  assert.strictEqual(R.notApplicable(controls({ btype: 13 })).talign, undefined);
});

test("the check character line follows the type, cchk and schk", () => {
  const rows = [
    [{ btype: 2 }, /adds a modulo 43 check character \(cchk on\) and shows it/],
    [{ btype: 2, cchk: false }, new RegExp("^No check character: cchk is off, so Code 39 is " +
      "drawn without a modulo 43 check character\\.$")],
    [{ btype: 6, schk: false }, /modulo 10 check digit \(cchk on\) and leaves it out/],
    [{ btype: 7, cchk: false }, new RegExp("^The program always adds a modulo 103 check " +
      "character \\(cchk changes nothing\\) and shows it in the text \\(schk on\\)\\.$")],
    [{ btype: 19 }, /two check characters, C and K/],
    [{ btype: 20 }, /two check characters, C and K/],
    [{ btype: 0 }, /^The program adds a modulo 10 check digit \(cchk on\) and shows it .*\.$/],
    [{ btype: 1 }, /adds a modulo 10 check digit/], [{ btype: 3 }, /adds a modulo 43 check/],
    [{ btype: 17 }, /adds a correction digit/], [{ btype: 18 }, /adds a correction digit/],
    [{ btype: 11 }, new RegExp("^The program computes the check digit and draws it in place " +
      "of the 13th digit you type \\(cchk changes nothing\\); it shows it in the text " +
      "\\(schk on\\)\\.$")],
    [{ btype: 10 }, /computes the check digit and draws it in place of the 8th digit/],
    [{ btype: 12 }, /computes the check digit and draws it in place of the 14th digit/],
    [{ btype: 13 }, /computes the check digit and draws it in place of the 12th digit/],
    [{ btype: 14 }, /computes the UPC-A check digit and draws it in place of the 12th digit/],
    [{ btype: 16 }, /computes the check digit and draws it in place of the 20th digit/],
    [{ btype: 21 }, /computes the check digit and draws it in place of the 14th digit/],
    [{ btype: 15 }, new RegExp("^The program adds the modulo 103 check character of Code 128 " +
      "and never shows it; check digits inside the data, such as that of <AI01>, are yours " +
      "to give \\(cchk and schk change nothing\\)\\.$")],
    [{ btype: 5 }, /^Codabar has no check character/],
  ];
  for (const [changes, line] of rows) assert.match(R.checkLine(controls(changes)), line);
});

test("a typed check digit is said to be replaced", () => {
  assert.match(R.typedCheckNote(11, "5901234123458"), new RegExp("^The 13th digit you " +
    "typed, 8, is not read: the program draws its own check digit, the last one shown under " +
    "the bars while schk is on\\.$"));
  assert.match(R.typedCheckNote(10, "12345678"), /8th digit you typed, 8,/);
  // The program has no type 22.
  for (const [btype, data] of [[11, "590123412345"], [11, "590123412345X"], [2, "1234567"],
    [11, "X901234123457"], [22, "12345678"]]) {
    assert.strictEqual(R.typedCheckNote(btype, data), "", data);
  }
});

test("a text the person typed stays on a change of type", () => {
  // Each type the program draws, 0 to 21, has a name, an example and what it takes.
  assert.deepStrictEqual(Object.keys(R.TYPES).map(Number), [...Array(22).keys()]);
  for (const [t, row] of Object.entries(R.TYPES)) {
    assert.ok(row.length === 3 && row.every((cell) => cell !== ""), t);
  }
  assert.strictEqual(R.ownText("12345", 7), true);
  assert.strictEqual(R.ownText("12345", 9), false);
  assert.strictEqual(R.ownText("1234567", 11), false);
  assert.strictEqual(R.ownText(null, 7), false);
  assert.strictEqual(R.textForType("12345", true, 2), "12345");
  assert.strictEqual(R.textForType("12345", false, 2), "CODE39");
});

test("names and texts made from the text", () => {
  const rows = [
    [11, "590123412345", "png", "ean-13_590123412345.png"],
    [15, "<AI01>1234", "svg", "ucc-ean-128_AI01_1234.svg"],
    [7, "../../etc/passwd", "png", "code-128_etc_passwd.png"],
    [7, "", "png", "code-128.png"], [7, "a  b..", "png", "code-128_a_b.png"],
    [7, "9".repeat(50), "svg", "code-128_" + "9".repeat(40) + ".svg"],
  ];
  for (const [btype, data, fmt, name] of rows) {
    assert.strictEqual(R.downloadName(btype, data, fmt), name);
  }
  assert.strictEqual(R.altText(11, "590123412345"), "EAN-13 barcode of 590123412345");
  assert.strictEqual(R.altText(7, "x".repeat(80)).length, 100);
  const alt = R.altText(7, "x".repeat(3000));
  assert.match(alt, /^Code 128 barcode of 3000 characters, beginning x{60}\u2026$/);
  assert.strictEqual(R.snippet("/a?b=1&c=2", 'say "x"'),
    '<img src="/a?b=1&amp;c=2" alt="say &quot;x&quot;">');
  assert.strictEqual(R.escapeHtml("<AI01>"), "&lt;AI01&gt;");
});

test("an address is read as the program reads a request", () => {
  const read = R.readParams(new URLSearchParams(
    "w=800&quiet=abc&fcolor=1ff0000&fmt=gif&w2n=-1&btype=11&stst=-1"));
  assert.deepStrictEqual([read.raws.w, read.raws.quiet, read.raws.fcolor, read.raws.fmt,
    read.raws.w2n, read.raws.btype, read.raws.stst, read.data, read.given],
  [800, false, "ff0000", "png", 2.5, 11, true, "1234567", null]);
});

test("what an address gives or leaves out reads as the program reads a request", () => {
  const rows = [
    ["", { btype: 7, w: null, h: null, xdim: 2, angle: 0, quiet: true, balign: 2, talign: 0,
      bcolor: "ffffff", fcolor: "000000", tcolor: "000000", guard: true, text: true, tdown: 1,
      stst: false, schk: true, cchk: true, ntxt: true, c128: 0, fh: 14, bred: 0, w2n: 2.5,
      fmt: "png", data: "1234567", given: null }],
    ["w2n=0&xdim=2.5&bcolor=FF&data=", { w2n: 2.5, xdim: 2, bcolor: "0000ff", data: "" }],
    ["w2n=3&angle=90.5&data=A%26B", { w2n: 3, angle: 90, data: "A&B", given: "A&B" }],
  ];
  for (const [address, want] of rows) {
    const read = R.readParams(new URLSearchParams(address));
    const got = Object.assign({ data: read.data, given: read.given }, read.raws);
    for (const name of Object.keys(want)) assert.strictEqual(got[name], want[name], name);
  }
});
