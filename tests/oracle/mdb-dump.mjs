// Prints an Access file's tables as mdb-reader reads them, as one JSON object:
//   { "tables": { NAME: { "columns": [{"name", "type"}], "rows": [[cell, ...]] } } }
// Cells keep mdb-reader's kinds apart: null, true/false, numbers, strings
// (text, memo, currency, decimal, GUID), and objects for the kinds JSON has
// no word for: {"date": milliseconds since 1970}, {"hex": "0A1B"} for bytes,
// {"bigint": "123"}, {"attachments": [{"name", "type", "hex"}]}, and
// {"error": text} for a complex column mdb-reader could not read (the rest of
// its table is still printed).
//
// usage: node mdb-dump.mjs FILE [--system] [TABLE...]
import MDBReader from "mdb-reader";
import { readFileSync } from "fs";

const args = process.argv.slice(2);
const file = args.shift();
const system = args[0] === "--system" ? (args.shift(), true) : false;
const reader = new MDBReader(readFileSync(file));
const names = args.length ? args : reader.getTableNames({ normalTables: true, systemTables: system });

// A text with a lone surrogate (bytes read as UTF-16 that are not text) gets
// U+FFFD in its place, so that the JSON stays valid UTF-8.
const wellFormed = (s) => s.replace(/[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g, "\uFFFD");

function cell(value) {
    if (value === null || value === undefined) return null;
    if (typeof value === "string") return wellFormed(value);
    if (typeof value === "boolean" || typeof value === "number") return value;
    if (typeof value === "bigint") return { bigint: value.toString() };
    if (value instanceof Date) return { date: value.getTime() };
    if (Buffer.isBuffer(value)) return { hex: value.toString("hex").toUpperCase() };
    if (Array.isArray(value))
        return {
            attachments: value.map((a) => ({ name: a.name, type: a.type, hex: a.data.toString("hex").toUpperCase() })),
        };
    return { error: "unknown value " + String(value) };
}

const out = { tables: {} };
for (const name of names) {
    const table = reader.getTable(name);
    const columns = table.getColumns();
    let rows;
    try {
        rows = table.getData().map((r) => columns.map((c) => cell(r[c.name])));
    } catch (error) {
        // mdb-reader reads only attachment columns among the complex ones;
        // read the others and mark the complex cells.
        const plain = columns.filter((c) => c.type !== "complex");
        if (plain.length === columns.length) throw error;
        const message = String(error.cause?.message ?? error.message);
        rows = table
            .getData({ columns: plain.map((c) => c.name) })
            .map((r) => columns.map((c) => (c.type === "complex" ? { error: message } : cell(r[c.name]))));
    }
    out.tables[name] = { columns: columns.map((c) => ({ name: c.name, type: c.type })), rows };
}
process.stdout.write(JSON.stringify(out));
