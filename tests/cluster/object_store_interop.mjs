// Another NATS client's object store against the history bucket: `read NAME FILE` lists the bucket
// and reads NAME, which must equal FILE byte for byte; `put NAME FILE` puts FILE as NAME.
// Usage: node object_store_interop.mjs SERVERS BUCKET read|put NAME FILE (NODE_PATH finds "nats").
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";

const require = createRequire(import.meta.url);
const { connect } = require("nats");
const [servers, bucket, mode, name, file] = process.argv.slice(2);

async function readAll(stream) {
  const reader = stream.getReader();
  const parts = [];
  for (;;) {
    const { done, value } = await reader.read();
    if (done) break;
    parts.push(value);
  }
  return Buffer.concat(parts);
}

const nc = await connect({ servers: servers.split(","), timeout: 5000 });
let status = 0;
try {
  const os = await nc.jetstream().views.os(bucket);
  const expected = readFileSync(file);
  if (mode === "read") {
    const listed = (await os.list()).find((info) => info.name === name);
    if (!listed || listed.size !== expected.length) throw new Error(`${name} not listed with ${expected.length} bytes`);
    const result = await os.get(name);
    if (!result) throw new Error(`${name} not found`);
    const bytes = await readAll(result.data);
    const error = await result.error;
    if (error) throw error;
    if (!bytes.equals(expected)) throw new Error(`${name}: ${bytes.length} bytes differ from ${file}`);
    console.log(`read ${name}: ${bytes.length} bytes, digest ${listed.digest}`);
  } else {
    const info = await os.putBlob({ name }, new Uint8Array(expected));
    console.log(`put ${name}: ${info.size} bytes in ${info.chunks} chunks`);
  }
} catch (e) {
  console.error(`interop: ${e.message ?? e}`);
  status = 1;
}
await nc.close();
process.exit(status);
