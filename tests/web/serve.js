// A static server for the page on 127.0.0.1 (localhost counts as a secure context): dist/web/ at
// the root and, for the browser tests only, a second folder under /test/. Nothing else is served.
//   node serve.js <page folder> [<test folder>] [port]   prints the address it listens on
'use strict';
const http = require('http');
const fs = require('fs');
const path = require('path');

const TYPES = {'.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8', '.css': 'text/css',
               '.wasm': 'application/wasm', '.bin': 'application/octet-stream', '.png': 'image/png',
               '.webmanifest': 'application/manifest+json'};

function serveFrom(root, relative, response) {
    const file = path.resolve(root, '.' + path.posix.normalize('/' + relative));
    if (!file.startsWith(path.resolve(root) + path.sep)) {
        response.writeHead(403).end();
        return;
    }
    fs.readFile(file, (error, bytes) => {
        if (error) {
            response.writeHead(404).end();
            return;
        }
        response.writeHead(200, {'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
                                 'Cache-Control': 'no-store'});
        response.end(bytes);
    });
}

function startServer(pageRoot, testRoot, port) {
    const server = http.createServer((request, response) => {
        const url = new URL(request.url, 'http://127.0.0.1');
        let relative = decodeURIComponent(url.pathname);
        if (testRoot && relative.startsWith('/test/')) return serveFrom(testRoot, relative.slice(6), response);
        // A test can take the page's files off the network (the connection breaks) or swap them.
        if (server.pageOffline) {
            server.refused.push(relative);
            return request.socket.destroy();
        }
        if (relative === '/') relative = '/index.html';
        serveFrom(server.pageRoot, relative.slice(1), response);
    });
    Object.assign(server, {pageRoot, pageOffline: false, refused: []});
    return new Promise((resolve) => server.listen(port || 0, '127.0.0.1', () => resolve(server)));
}

module.exports = {startServer};

if (require.main === module) {
    const [pageRoot, testRoot, port] = process.argv.slice(2);
    startServer(pageRoot, testRoot || null, Number(port || 0)).then((server) => {
        process.stdout.write(`http://127.0.0.1:${server.address().port}/\n`);
    });
}
