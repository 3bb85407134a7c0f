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
  ];
  for (const [name, raw, sent] of rows) {
    assert.strictEqual(R.requestValue(R.PARAM[name], raw), sent, name + "=" + raw);
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
  const rows = [
    [{ btype: 2, w2n: "2" }, []], [{ btype: 2, w2n: "1.99" }, ["w2n"]],
    [{ btype: 2, w2n: "3" }, []], [{ btype: 2, w2n: "3.01" }, ["w2n"]],
    [{ btype: 0, w2n: "1" }, ["w2n"]], [{ btype: 7, w2n: "1" }, []],
    [{ btype: 2, w2n: "abc" }, []],
    [{ bred: "50" }, []], [{ bred: "51" }, ["bred"]], [{ bred: "-50" }, []],
    [{ bred: "-51" }, ["bred"]],
    [{ fcolor: "ffffff" }, ["fcolor"]], [{ fcolor: "ffffff", bcolor: "000000" }, ["fcolor"]],
    [{ fcolor: "bbbbbb" }, []], [{ fcolor: "cccccc" }, ["fcolor"]],
    [{ fcolor: "ff0000" }, ["fcolor"]], [{ fcolor: "0000ff" }, []],
    [{ fcolor: "000000", bcolor: "ffff00" }, []],
    [{ fcolor: "000000", bcolor: "ff0000" }, ["fcolor"]],
    [{ fcolor: "000000", bcolor: "0000ff" }, ["fcolor"]],
  ];
  for (const [changes, fields] of rows) {
    assert.deepStrictEqual(R.hints(controls(changes)).map((h) => h.field), fields,
      JSON.stringify(changes));
  }
});

test("options a type leaves alone, and only those", () => {
  // [changes, option, applies]
  const rows = [
    [{ btype: 11 }, "guard", true], [{ btype: 14 }, "guard", true],
    [{ btype: 8 }, "guard", false], [{ btype: 7 }, "c128", true],
    [{ btype: 12 }, "c128", false], [{ btype: 15 }, "c128", false],
    [{ btype: 21 }, "w2n", true], [{ btype: 4 }, "w2n", true], [{ btype: 19 }, "w2n", false],
    [{ btype: 17 }, "w2n", false], [{ btype: 6 }, "cchk", true], [{ btype: 17 }, "cchk", true],
    [{ btype: 7 }, "cchk", false], [{ btype: 5 }, "cchk", false],
    [{ btype: 15 }, "schk", false], [{ btype: 7 }, "schk", true],
    [{ btype: 2, cchk: false }, "schk", false], [{ btype: 7, cchk: false }, "schk", true],
    [{ btype: 5 }, "stst", true], [{ btype: 19 }, "stst", false],
    [{ btype: 20 }, "ntxt", true], [{ btype: 7 }, "ntxt", false],
    [{ text: false }, "fh", false], [{ text: false }, "tcolor", false], [{}, "fh", true],
    [{ w: "300" }, "xdim", false], [{ w: "300", angle: 90 }, "xdim", true],
    [{ h: "300", angle: 270 }, "xdim", false], [{ w: "800" }, "xdim", true],
  ];
  for (const [changes, name, applies] of rows) {
    const reason = R.notApplicable(controls(changes))[name];
    assert.strictEqual(reason === undefined, applies, name + " " + JSON.stringify(changes));
  }
  assert.deepStrictEqual(R.notApplicable(controls({ btype: 2 })).talign.values, [4, 5, 6]);
  assert.strictEqual(R.notApplicable(controls({ btype: 13 })).talign, undefined);
});

test("the check character line follows the type, cchk and schk", () => {
  const rows = [
    [{ btype: 2 }, /adds a modulo 43 check character \(cchk on\) and shows it/],
    [{ btype: 2, cchk: false }, /^No check character: cchk is off/],
    [{ btype: 6, schk: false }, /modulo 10 check digit \(cchk on\) and leaves it out/],
    [{ btype: 7, cchk: false }, /always adds a modulo 103 check character/],
    [{ btype: 19 }, /two check characters, C and K/],
    [{ btype: 11 }, /in place of a 13th digit/],
    [{ btype: 16 }, /in place of a 20th digit/],
    [{ btype: 21 }, /in place of a 14th digit/],
    [{ btype: 15 }, /never shows it/],
    [{ btype: 5 }, /^Codabar has no check character/],
  ];
  for (const [changes, line] of rows) assert.match(R.checkLine(controls(changes)), line);
});

test("a typed check digit is said to be replaced", () => {
  assert.match(R.typedCheckNote(11, "5901234123458"), /13th digit you typed, 8,/);
  assert.match(R.typedCheckNote(10, "12345678"), /8th digit you typed, 8,/);
  for (const [btype, data] of [[11, "590123412345"], [11, "590123412345X"], [2, "1234567"]]) {
    assert.strictEqual(R.typedCheckNote(btype, data), "", data);
  }
});

test("a text the person typed stays on a change of type", () => {
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
    [7, "", "png", "code-128.png"],
  ];
  for (const [btype, data, fmt, name] of rows) {
    assert.strictEqual(R.downloadName(btype, data, fmt), name);
  }
  assert.strictEqual(R.altText(11, "590123412345"), "EAN-13 barcode of 590123412345");
  assert.strictEqual(R.altText(7, "x".repeat(80)).length, 100);
  const alt = R.altText(7, "x".repeat(3000));
  assert.ok(alt.length < 120 && /3000 characters/.test(alt), alt);
  assert.strictEqual(R.snippet("/a?b=1&c=2", 'say "x"'),
    '<img src="/a?b=1&amp;c=2" alt="say &quot;x&quot;">');
});

test("an address is read as the program reads a request", () => {
  const read = R.readParams(new URLSearchParams(
    "w=800&quiet=abc&fcolor=1ff0000&fmt=gif&w2n=-1&btype=11&stst=-1"));
  assert.deepStrictEqual([read.raws.w, read.raws.quiet, read.raws.fcolor, read.raws.fmt,
    read.raws.w2n, read.raws.btype, read.raws.stst, read.data, read.given],
  [800, false, "ff0000", "png", 2.5, 11, true, "1234567", null]);
});
