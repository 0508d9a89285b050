// ./demo web: serves dist/web/ on 127.0.0.1 and opens it with ?sim=60, the simulated unit built into
// the page, and says how to install it as an app. With a display, Chromium opens it for a person
// and the page is served until Ctrl+C; without one, a headless walk-through prints what it saw and
// takes the README's two pictures (docs/web-ready.png, ready to update; docs/web-progress.png,
// during the transfer).
'use strict';
const path = require('path');
const {spawn} = require('child_process');
const {startServer} = require('./serve.js');

const ROOT = path.resolve(__dirname, '..', '..');
const CHROMIUM = process.env.QUENLOR_CHROMIUM || '/usr/bin/chromium';
const STATE_MS = 20000;
const POLL_MS = 50;
// The erase alone takes 5 s, and a third of the image as long again.
const TRANSFER_MS = 60000;

// Polled from here, not with the page's own timers (slowed while a page is hidden), and without
// the page compiling code, which its Content-Security-Policy forbids.
async function waitFor(page, predicate, timeout = STATE_MS) {
    const deadline = Date.now() + timeout;
    while (!(await page.evaluate(predicate))) {
        if (Date.now() > deadline) throw new Error(`the page did not reach ${predicate} within ${timeout} ms`);
        await new Promise((resolve) => setTimeout(resolve, POLL_MS));
    }
}

async function walkThrough(url) {
    const puppeteer = require('puppeteer-core');
    const browser = await puppeteer.launch({executablePath: CHROMIUM, headless: true,
                                            args: ['--no-sandbox', '--accept-lang=en-US,en']});
    try {
        const page = await browser.newPage();
        await page.setViewport({width: 900, height: 540});
        await page.goto(url);
        await waitFor(page, () => !document.getElementById('update').disabled);
        const seen = await page.evaluate(() => ({
            model: document.getElementById('model').textContent,
            unit: document.getElementById('unit-name').textContent,
            firmware: document.getElementById('firmware-version').textContent,
            status: document.getElementById('status').textContent.split('\n')[0],
        }));
        console.log(`ready: ${seen.unit} with a ${seen.model}, firmware ${seen.firmware}`);
        console.log(`status: ${seen.status}`);
        await page.screenshot({path: path.join(ROOT, 'docs', 'web-ready.png')});
        await page.click('#update');
        await waitFor(page, () => document.getElementById('box').open);
        console.log(`asked: ${await page.$eval('#box-caption', (e) => e.textContent)}; answered OK`);
        await page.click('#box button[value="ok"]');
        await waitFor(page, () => document.getElementById('progress').value > 30000, TRANSFER_MS);
        const progress = await page.$eval('#progress', (p) => `${p.value} of ${p.max} bytes`);
        console.log(`transfer: ${progress} sent`);
        await page.screenshot({path: path.join(ROOT, 'docs', 'web-progress.png')});
        console.log('pictures: docs/web-ready.png, docs/web-progress.png');
    } finally {
        await browser.close();
    }
}

async function main() {
    const server = await startServer(path.join(ROOT, 'dist', 'web'), null, Number(process.env.QUENLOR_WEB_PORT || 0));
    const url = `http://127.0.0.1:${server.address().port}/?sim=60`;
    console.log(`serving dist/web/ at ${url}`);
    console.log('To install it as an app, open that address in Chrome or Edge and choose Install in the address bar.');
    console.log('Opened once, the page works whole without a network, the simulated unit of ?sim= included;');
    console.log('QUENLOR_WEB_PORT=<port> ./demo web keeps the same address from one demo to the next.');
    if (process.env.DISPLAY) {
        const browser = spawn(CHROMIUM, [`--app=${url}`], {stdio: 'ignore'});
        browser.on('exit', () => server.close());
        console.log('Ctrl+C ends the demo');
        return;
    }
    try {
        await walkThrough(url);
    } finally {
        server.close();
    }
}

main().catch((error) => {
    console.error(`demo web: ${error.message}`);
    process.exit(1);
});
