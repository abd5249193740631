// Prints every table of an Access file as mdb-reader reads it: one JSON line
// per table, {"table", "rows"}, binary values as hexadecimal, dates as ISO
// texts. Used by the writer's tests as an independent reader of encrypted files.
//   node mdb-reader-rows.mjs MODULE_FILE DATABASE [PASSWORD]
import { readFileSync } from "fs";
import { pathToFileURL } from "url";

const [modulePath, file, password] = process.argv.slice(2);
const { default: MDBReader } = await import(pathToFileURL(modulePath).href);
const reader = new MDBReader(readFileSync(file), password === undefined ? {} : { password });
const plain = (key, value) => {
  if (value && value.type === "Buffer" && Array.isArray(value.data)) return Buffer.from(value.data).toString("hex");
  return value;
};
for (const name of reader.getTableNames().sort()) {
  const rows = reader.getTable(name).getData();
  console.log(JSON.stringify({ table: name, rows }, plain));
}
