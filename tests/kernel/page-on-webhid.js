// The page from dist/web/ in the guest's Chromium, headless, over real WebHID, as the kernel lane's
// page scenario drives it (tests/kernel/scenarios). Two origins, each granted one product by the
// browser's policy, so that each tab has its own unit:
//   node page-on-webhid.js FRONT-PORT BEHIND-PORT QUERY
// 1. A tab on BEHIND-PORT (VexoBOX, ZEPHANT 140 LV) starts a whole update, then a tab on FRONT-PORT
//    (DIALPUCK, ZEPHANT 60 LV) comes in front of it and runs one too; both identified at load.
//    Prints "updated" and waits for a line on standard input (the units checked and a new one
//    plugged in, which pulls itself at a data block).
// 2. The front tab closed, a new tab on FRONT-PORT identifies that unit and updates it: the failure
//    box of the data block.
// Prints "done". Every wait is bounded; the hidden tab is watched through mutations, not its timers.
'use strict';
const path = require('path');
const readline = require('readline');
const puppeteer = require('../web/node_modules/puppeteer-core');
const {startServer} = require('../web/serve.js');
const {shown} = require('../web/catalogue.js');

const ROOT = path.resolve(__dirname, '..', '..');
const WHOLE_UPDATE_MS = 400000;  // two at once in a TCG guest, bounded for a busy machine
const STATE_MS = 60000;
const LAUNCH_MS = 300000;  // Chromium under TCG: about 20 s on an idle machine, 250 s on a busy one
const PROGRESS_LOG_MS = 30000;

const byStatus = (want) => document.getElementById('status').textContent === want;

async function waitForStatus(page, want, timeout = STATE_MS) {
    try {
        await page.waitForFunction(byStatus, {timeout, polling: 'mutation'}, want);
    } catch (error) {
        const seen = await page.evaluate(() => [document.getElementById('status').textContent.slice(0, 60),
                                                document.getElementById('progress').value]).catch(() => '?');
        throw new Error(`${page.url()}: status ${JSON.stringify(want.slice(0, 40))} not within ${timeout} ms ` +
                        `(status and progress: ${JSON.stringify(seen)}; ${error.message})`);
    }
}

// The worker sends the status and the rows as messages of their own: the rows may follow a moment later.
async function expectRows(page, unitName, model) {
    const rowsAre = (name, m) => document.getElementById('unit-name').textContent === name &&
                                 document.getElementById('model').textContent === m;
    try {
        await page.waitForFunction(rowsAre, {timeout: STATE_MS, polling: 'mutation'}, unitName, model);
    } catch (error) {
        const rows = await page.evaluate(() => ['unit-name', 'model'].map((id) => document.getElementById(id).textContent));
        throw new Error(`${page.url()}: rows ${JSON.stringify(rows)}, not ${unitName} with ${model}`);
    }
}

// Update, and OK to the warning (and yes to a version question).
async function startUpdate(page) {
    await page.waitForFunction(() => !document.getElementById('update').disabled, {timeout: STATE_MS, polling: 'mutation'});
    await page.click('#update');
    await page.waitForFunction(() => document.getElementById('box').open, {timeout: STATE_MS, polling: 'mutation'});
    await page.click('#box button[value="ok"]');
}

async function openReady(browser, url, unitName, model) {
    const page = await browser.newPage();
    page.setDefaultTimeout(STATE_MS);
    page.on('pageerror', (error) => console.error(`page error: ${error.message}`));
    await page.goto(url);
    await waitForStatus(page, shown(40000));
    await expectRows(page, unitName, model);
    return page;
}

async function main() {
    const [frontPort, behindPort, query] = process.argv.slice(2);
    const servers = await Promise.all([frontPort, behindPort].map((port) =>
        startServer(path.join(ROOT, 'dist', 'web'), null, Number(port))));
    const started = Date.now();
    // Without the driver's three defaults against it, a tab behind another is slowed as in a user's browser.
    const browser = await puppeteer.launch({
        executablePath: '/usr/bin/chromium', headless: true, protocolTimeout: WHOLE_UPDATE_MS + STATE_MS, timeout: LAUNCH_MS,
        args: ['--no-sandbox', '--disable-gpu', '--accept-lang=en-US,en'],
        ignoreDefaultArgs: ['--disable-background-timer-throttling', '--disable-renderer-backgrounding',
                            '--disable-backgrounding-occluded-windows']});
    try {
        const behind = await openReady(browser, `http://127.0.0.1:${behindPort}/${query}`, 'VEXO-BOX', 'ZEPHANT 140 LV');
        console.error(`# Chromium up and the first unit identified at load in ${((Date.now() - started) / 1000).toFixed(1)} s`);
        await startUpdate(behind);
        const front = await openReady(browser, `http://127.0.0.1:${frontPort}/${query}`, 'DIALPUCK', 'ZEPHANT 60 LV');
        await front.bringToFront();
        const visibility = await behind.evaluate(() => document.visibilityState);
        if (visibility !== 'hidden') throw new Error(`the tab behind is ${visibility}`);
        await startUpdate(front);
        // Read from here, not from inside the pages: the bytes sent so far, for the log.
        const sent = (page) => page.$eval('#progress', (p) => p.value).catch(() => '?');
        const ticker = setInterval(async () => console.error(
            `# ${((Date.now() - started) / 1000).toFixed(0)} s: sent ${await sent(front)} in front, ${await sent(behind)} behind`),
        PROGRESS_LOG_MS);
        try {
            await Promise.all([waitForStatus(front, shown(40032), WHOLE_UPDATE_MS),
                               waitForStatus(behind, shown(40032), WHOLE_UPDATE_MS)]);
        } finally {
            clearInterval(ticker);
        }
        await expectRows(front, 'DIALPUCK', 'ZEPHANT 60 LV');
        console.error(`# both updates done ${((Date.now() - started) / 1000).toFixed(1)} s after the start`);
        // One tab at a time has the unit: a tab still open would take up the next DIALPUCK itself.
        await front.close();
        console.log('updated');

        const lines = readline.createInterface({input: process.stdin});
        await new Promise((resolve) => lines.once('line', resolve));
        lines.close();
        const page = await openReady(browser, `http://127.0.0.1:${frontPort}/${query}`, 'DIALPUCK', 'ZEPHANT 60 LV');
        await startUpdate(page);
        await page.waitForFunction(() => document.getElementById('box').open &&
                                         document.getElementById('box-caption').textContent !== '',
                                   {timeout: STATE_MS, polling: 'mutation'});
        const box = await page.$eval('#box', (b) => ({caption: b.querySelector('#box-caption').textContent,
                                                      text: b.querySelector('#box-text').textContent}));
        if (box.caption !== shown(40002) || !box.text.startsWith(shown(40009))) {
            throw new Error(`not the data block's failure box: ${JSON.stringify(box)}`);
        }
        console.error(`# unplugged during the transfer: ${JSON.stringify(box.text)}`);
        await page.click('#box button[value="ok"]');
        // The failure's text, then the page's word on a unit taken up again after an unplug.
        await page.waitForFunction((want) => document.getElementById('status').textContent.startsWith(want),
                                   {timeout: STATE_MS, polling: 'mutation'}, shown(40030));
        console.log('done');
    } finally {
        await browser.close();
        for (const server of servers) server.close();
    }
}

main().catch((error) => {
    console.error(`FAIL: ${error.message}`);
    process.exit(1);
});
