// A static server for the page on 127.0.0.1 (localhost counts as a secure context): dist/web/ at
// the root, with the response headers the README asks of a server, and, for the browser tests
// only, test folders under /test/. Nothing else is served.
//   node serve.js <page folder> [<test folder>] [port]   prints the address it listens on
// With test folders, a browser context steers what it gets through cookies: worker-hid=double (the
// default: worker.js starts with the navigator.hid double), none (a worker without WebHID) or real
// (the page's own worker.js, and only then its service worker); missing=<file> answers 404 for that
// file of the page. /test/frame?src=<address> is a page that frames the address.
'use strict';
const http = require('http');
const fs = require('fs');
const path = require('path');

const TYPES = {'.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8', '.css': 'text/css',
               '.wasm': 'application/wasm', '.bin': 'application/octet-stream', '.png': 'image/png',
               '.webmanifest': 'application/manifest+json'};
// What the page and its worker need of a server: their own scripts and WebAssembly, no frame of any site.
const SECURITY_HEADERS = {
    'Content-Security-Policy': "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; worker-src 'self'; " +
        "manifest-src 'self'; object-src 'none'; " +
        "base-uri 'none'; form-action 'none'; frame-ancestors 'none'",
    'X-Content-Type-Options': 'nosniff',
};
const WORKER_HID = {
    double: "importScripts('/test/hid_double.js');\n",
    none: "Object.defineProperty(WorkerNavigator.prototype, 'hid', {get: () => undefined});\n",
    real: '',
};

// worker.js as served with the cookie worker-hid=<kind>.
const withWorkerHid = (source, kind) => source.replace("'use strict';\n", `'use strict';\n${WORKER_HID[kind]}`);

function cookiesOf(request) {
    const cookies = {};
    for (const part of (request.headers.cookie || '').split(';')) {
        const at = part.indexOf('=');
        if (at > 0) cookies[part.slice(0, at).trim()] = decodeURIComponent(part.slice(at + 1).trim());
    }
    return cookies;
}

// The first of the roots that holds the file; null for a path outside every root.
function fileIn(roots, relative) {
    let outside = true;
    for (const root of roots) {
        const file = path.resolve(root, '.' + path.posix.normalize('/' + relative));
        if (!file.startsWith(path.resolve(root) + path.sep)) continue;
        outside = false;
        if (fs.existsSync(file)) return file;
    }
    return outside ? null : '';
}

function serveFile(file, headers, response, edit) {
    if (file === null) return response.writeHead(403).end();
    fs.readFile(file, (error, bytes) => {
        if (error) return response.writeHead(404).end();
        response.writeHead(200, {'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
                                 'Cache-Control': 'no-store', ...headers});
        response.end(edit ? edit(bytes.toString('utf8')) : bytes);
    });
}

function framing(url) {
    const src = url.searchParams.get('src') || '';
    const quoted = src.replace(/[&"<>]/g, (c) => `&#${c.charCodeAt(0)};`);
    return `<!DOCTYPE html><title>frame</title><iframe src="${quoted}" allow="hid" width="800" height="600"></iframe>`;
}

// testRoot: a folder or a list of them (the first that holds a file serves it); securityHeaders
// false serves the page as a careless server would.
function startServer(pageRoot, testRoot, port, {securityHeaders = true} = {}) {
    const testRoots = testRoot ? [].concat(testRoot) : [];
    const headers = securityHeaders ? SECURITY_HEADERS : {};
    const server = http.createServer((request, response) => {
        const url = new URL(request.url, 'http://127.0.0.1');
        let relative = decodeURIComponent(url.pathname);
        if (testRoots.length > 0 && relative === '/test/frame') {
            return response.writeHead(200, {'Content-Type': TYPES['.html']}).end(framing(url));
        }
        if (testRoots.length > 0 && relative.startsWith('/test/')) {
            return serveFile(fileIn(testRoots, relative.slice(6)), headers, response);
        }
        // A test can take the page's files off the network (the connection breaks) or swap them.
        if (server.pageOffline) {
            server.refused.push(relative);
            return request.socket.destroy();
        }
        if (relative === '/') relative = '/index.html';
        const cookies = testRoots.length > 0 ? cookiesOf(request) : {};
        if (cookies.missing && relative === `/${cookies.missing}`) return response.writeHead(404).end();
        const workerHid = testRoots.length > 0 ? cookies['worker-hid'] || 'double' : 'real';
        // The service worker keeps only a build's own files, each checked: none while worker.js is changed.
        if (WORKER_HID[workerHid] && relative === '/service_worker.js') return response.writeHead(404).end();
        const edit = relative === '/worker.js' && WORKER_HID[workerHid] ? (source) => withWorkerHid(source, workerHid) : null;
        serveFile(fileIn([server.pageRoot], relative.slice(1)), headers, response, edit);
    });
    Object.assign(server, {pageRoot, pageOffline: false, refused: []});
    return new Promise((resolve) => server.listen(port || 0, '127.0.0.1', () => resolve(server)));
}

module.exports = {startServer, SECURITY_HEADERS, withWorkerHid};

if (require.main === module) {
    const [pageRoot, testRoot, port] = process.argv.slice(2);
    startServer(pageRoot, testRoot || null, Number(port || 0)).then((server) => {
        process.stdout.write(`http://127.0.0.1:${server.address().port}/\n`);
    });
}
