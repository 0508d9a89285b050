// Build step, run on the finished dist/web/: names the build after the content of its files, marks
// the page's references to its own files with "?build=<hash>", and writes the service worker
// with that hash and every file's SHA-256 before its text. Running it again on its own output
// (or on a copy with one file changed) gives the build that folder holds now.
//   node make_offline.js <dist/web> <service_worker.js of web/page>
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');

const WORKER_FILE = 'service_worker.js';
const BUILD_MARK = /\?build=[0-9a-f]*/g;
const BUILD_HEX_DIGITS = 16;

const sha256 = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');

function main(folder, template) {
    const names = fs.readdirSync(folder).filter((name) => name !== WORKER_FILE &&
        fs.statSync(path.join(folder, name)).isFile()).sort();
    if (!names.includes('index.html')) throw new Error(`no index.html in ${folder}`);
    const contents = new Map(names.map((name) => [name, fs.readFileSync(path.join(folder, name))]));
    const page = contents.get('index.html').toString('utf8').replace(BUILD_MARK, '');
    contents.set('index.html', Buffer.from(page));

    const whole = crypto.createHash('sha256');
    for (const name of names) whole.update(`${name}\0${contents.get(name).length}\0`).update(contents.get(name));
    const build = whole.digest('hex').slice(0, BUILD_HEX_DIGITS);

    // The build's scripts and style sheet; the manifest and the icons keep their plain addresses,
    // by which the browser knows an installed app.
    const marked = page.replace(/\b(src|href)="([^"/:?#]+\.(?:js|css))"/g,
        (all, attribute, file) => contents.has(file) ? `${attribute}="${file}?build=${build}"` : all);
    contents.set('index.html', Buffer.from(marked));
    fs.writeFileSync(path.join(folder, 'index.html'), marked);

    const files = Object.fromEntries(names.map((name) => [name, sha256(contents.get(name))]));
    const header = `'use strict';\nconst BUILD = ${JSON.stringify(build)};\nconst FILES = ${JSON.stringify(files, null, 1)};\n`;
    fs.writeFileSync(path.join(folder, WORKER_FILE), header + fs.readFileSync(template, 'utf8'));
    return build;
}

try {
    const [folder, template] = process.argv.slice(2);
    process.stdout.write(`${main(folder, template)}\n`);
} catch (error) {
    console.error(`make_offline: ${error.message}`);
    process.exit(1);
}
