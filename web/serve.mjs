// A static server for the page on localhost, with the headers that make it
// cross-origin isolated. `node web/serve.mjs DIR [PORT]`; the tests import serve().
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';
import { fileURLToPath } from 'node:url';

const kTypes = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.mjs': 'text/javascript',
  '.css': 'text/css', '.wasm': 'application/wasm', '.dat': 'application/octet-stream',
};

// Resolves to the listening server (port 0: any free port, see server.address().port).
// `mounts`: further folders under URL prefixes, { '/prefix/': folder }.
export function serve(root, port = 0, mounts = {}) {
  const server = createServer(async (request, response) => {
    let path = normalize(decodeURIComponent(new URL(request.url, 'http://localhost').pathname));
    let folder = root;
    for (const [prefix, dir] of Object.entries(mounts)) {
      if (path.startsWith(prefix)) [folder, path] = [dir, path.slice(prefix.length - 1)];
    }
    const file = join(folder, path.endsWith('/') ? path + 'index.html' : path);
    try {
      const body = await readFile(file);
      response.writeHead(200, {
        'Content-Type': kTypes[extname(file)] || 'application/octet-stream',
        'Cross-Origin-Opener-Policy': 'same-origin',
        'Cross-Origin-Embedder-Policy': 'require-corp',
        'Cache-Control': 'no-cache',
      });
      response.end(body);
    } catch {
      response.writeHead(404);
      response.end();
    }
  });
  return new Promise((resolve) => server.listen(port, '127.0.0.1', () => resolve(server)));
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const [root = '.', port = '8080'] = process.argv.slice(2);
  await serve(root, Number(port));
}
