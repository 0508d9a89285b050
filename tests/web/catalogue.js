// The catalogue as a user must read it (tests/expected_catalogue.inc, the same table the native
// and Wine tests hold the programs to), and the page's texts made from it.
'use strict';
const fs = require('fs');
const path = require('path');

function unescapeWide(literal) {
    return literal.replace(/\\(x[0-9a-fA-F]+|.)/g, (all, c) => {
        if (c[0] === 'x' && c.length > 1) return String.fromCodePoint(parseInt(c.slice(1), 16));
        return c === 'r' ? '\r' : c === 'n' ? '\n' : c === 't' ? '\t' : c;
    });
}

function readCatalogue() {
    const text = fs.readFileSync(path.join(__dirname, '..', 'expected_catalogue.inc'), 'utf8')
        .split('\n').filter((line) => !line.trimStart().startsWith('//')).join('\n');
    const entries = new Map();
    const entry = /\{(\d+),((?:\s*L"(?:[^"\\]|\\.)*")+)\s*,((?:\s*L"(?:[^"\\]|\\.)*")+)\s*\}/g;
    const pieces = (group) => group.match(/L"((?:[^"\\]|\\.)*)"/g).map((p) => unescapeWide(p.slice(2, -1))).join('');
    let match;
    while ((match = entry.exec(text)) !== null) {
        entries.set(Number(match[1]), {en: pieces(match[2]), de: pieces(match[3])});
    }
    if (entries.size < 20) throw new Error(`expected_catalogue.inc: only ${entries.size} entries read`);
    return entries;
}

const CATALOGUE = readCatalogue();

// A message as the page shows it: "\r\n" becomes "\n".
function shown(id, language = 'en') {
    const entry = CATALOGUE.get(id);
    if (!entry) throw new Error(`no message ${id} in the catalogue`);
    return entry[language].replace(/\r\n/g, '\n');
}

const hex8 = (value) => (value >>> 0).toString(16).padStart(8, '0');

// The status of a refusal: the cause, an empty line, the connection steps.
const withSteps = (cause, language = 'en') => `${shown(cause, language)}\n\n${shown(40001, language)}`;

// A failed step's box text: the step, and the error-code line unless the code is -1.
function failureText(step, code, lastError, language = 'en') {
    if (code === -1) return shown(step, language);
    const line = shown(40036, language).replace('%08x', hex8(code)).replace('%08x', hex8(lastError));
    return `${shown(step, language)}\n${line}`;
}

module.exports = {shown, withSteps, failureText};
