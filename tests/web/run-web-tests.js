// The page in headless Chromium (Debian's /usr/bin/chromium, driven by puppeteer-core) against
// the navigator.hid stand-in of hid_double.js (in the window and in the page's worker), served
// from 127.0.0.1 as a user would serve it.
//   node run-web-tests.js [--filter <text>]   the cases; exits non-zero when one fails
//   node run-web-tests.js --bench             whole updates timed: web update ratio (hidden)
// QUENLOR_WEB_PAGE names another page folder to run the cases against (an older build of it).
// Every wait is a bounded wait for a state of the page, polled from here: a hidden page's own
// timers are slowed to once a minute. Long cases run at the same time, each in its own browser
// context; the background-tab cases use a browser of their own that throttles hidden pages as a
// user's browser does.
'use strict';
const fs = require('fs');
const path = require('path');
const vm = require('vm');
const puppeteer = require('puppeteer-core');
const {startServer} = require('./serve.js');
const {shown, withSteps, failureText} = require('./catalogue.js');

const ROOT = path.resolve(__dirname, '..', '..');
const PAGE_DIR = process.env.QUENLOR_WEB_PAGE || path.join(ROOT, 'dist', 'web');
const BUILD_DIR = path.join(ROOT, 'build', 'web', 'web');
const TEST_DIRS = [__dirname, BUILD_DIR];
const CHROMIUM = process.env.QUENLOR_CHROMIUM || '/usr/bin/chromium';
const HID_DOUBLE = fs.readFileSync(path.join(__dirname, 'hid_double.js'), 'utf8');

const MODELS = {
    60: {name: 'ZEPHANT 60 LV', idByte: 0x3C, image: 140, bytes: 97536},
    140: {name: 'ZEPHANT 140 LV', idByte: 0x8C, image: 142, bytes: 97184},
    90: {name: 'ZEPHANT 90 LV', idByte: 0x5A, image: 141, bytes: 97536},
};
const FAMILY_A = 0x111F4000;
const FAMILY_B = 0x0A064000;
// SimFaultKind in sim/sim_unit.h; the unit's commands.
const FAULT = {FailWrite: 1, FailRead: 2, ErrorReply: 3, WrongState: 4, NeverAnswer: 5, LateAnswer: 6, Vanish: 7};
const CMD = {info: 0x08, lock: 0x0B, data: 0x1B, erase: 0x1E, address: 0x1F, protect: 0x20};
// The errno values of the page's core (WebAssembly's, not Linux's).
// As quenlor shows them on Linux (web/linux_errno.h).
const EIO = 5, ENODEV = 19, ETIMEDOUT = 110;
const STEP_PAUSE_MS = 20, ERASE_REPLY_DELAY_MS = 1000, ERASE_SETTLE_MS = 4000, BLOCK_BYTES = 48;
const WHOLE_UPDATE_MS = 90000;
const STATE_MS = 15000;
const POLL_MS = 50;
// The page is built from stand-in images: the address lets it write them to the double's units.
const DOUBLE_QUERY = '?stand-in=allow';

const unitOf = (model, extra = {}) => ({escHardwareId: FAMILY_A | MODELS[model].idByte, granted: true, ...extra});
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// ---- Driving a page

// hid: 'double' (in the window and the worker), 'none' (neither), 'windowOnly' (a worker without
// WebHID) or 'real' (the browser's own); wakeLockMs: a wake lock double granting after that long;
// countProgress: window.progressValues records each position the worker tells the window;
// beforeLoad: a function run in the page before its scripts.
async function preparePage(page, base, {units = [], hid = 'double', cookies = {}, wakeLockMs, countProgress,
                                        beforeLoad = null} = {}) {
    page.errors = page.errors || [];
    page.on('pageerror', (error) => page.errors.push(error.message));
    const workerHid = {double: 'double', none: 'none', windowOnly: 'none', real: 'real'}[hid];
    for (const [name, value] of Object.entries({'worker-hid': workerHid, ...cookies})) {
        await page.setCookie({name, value, url: base});
    }
    if (hid === 'none') {
        await page.evaluateOnNewDocument(() => Object.defineProperty(Navigator.prototype, 'hid', {get: () => undefined}));
    } else if (hid !== 'real') {
        await page.evaluateOnNewDocument(`${HID_DOUBLE}\ninstallHidDouble(${JSON.stringify(units)});`);
    }
    if (wakeLockMs !== undefined) await page.evaluateOnNewDocument(installWakeLockDouble, wakeLockMs);
    if (countProgress) {
        await page.evaluateOnNewDocument(() => {
            window.progressValues = [];
            const PageWorker = window.Worker;
            window.Worker = function CountingWorker(...args) {
                const worker = new PageWorker(...args);
                worker.addEventListener('message', (event) => {
                    if (event.data.type === 'progress' && event.data.state === 'position') window.progressValues.push(event.data.value);
                });
                return worker;
            };
        });
    }
    if (beforeLoad) await page.evaluateOnNewDocument(beforeLoad);
}

// address: another address than the page's own with query.
async function openPage(browser, base, {query = DOUBLE_QUERY, address, ...options} = {}) {
    const context = await browser.createBrowserContext();
    const page = await context.newPage();
    await preparePage(page, base, options);
    await page.goto(address || `${base}${query}`);
    page.closeAll = () => context.close();
    return page;
}

// The page's first frame, once it has loaded.
async function waitForFrame(page) {
    const deadline = Date.now() + STATE_MS;
    while (page.frames().length < 2 && Date.now() < deadline) await sleep(POLL_MS);
    const frame = page.frames()[1];
    expectTrue(frame !== undefined, 'a frame in the page');
    await waitFor(frame, 'the frame loaded', () => document.readyState === 'complete');
    return frame;
}

// The page's own sentences, from its one place for them.
const PAGE_TEXTS = vm.runInNewContext([path.join(ROOT, 'dist', 'web', 'page_constants.js'),
    path.join(ROOT, 'web', 'page', 'page_texts.js')].map((file) => fs.readFileSync(file, 'utf8')).join('\n') + '\n({...PAGE_TEXTS, fillText})');
const pageText = (key, language = 'en') => PAGE_TEXTS[language][key];
const text = (page, selector) => page.$eval(selector, (e) => e.textContent);

// Polled from Node: page.evaluate runs at once even in a hidden page, whose own timers would wake
// a waiting loop only once a minute.
async function waitFor(page, what, predicate, arg, timeout = STATE_MS) {
    const deadline = Date.now() + timeout;
    for (;;) {
        if (await page.evaluate(predicate, arg).catch(() => false)) return;
        if (Date.now() > deadline) break;
        await sleep(POLL_MS);
    }
    const status = await text(page, '#status').catch(() => '?');
    throw new Error(`${what}: not within ${timeout} ms (status: ${JSON.stringify(status.slice(0, 120))})`);
}

const waitForStatus = (page, expected, timeout) => waitFor(page, `status ${JSON.stringify(expected.slice(0, 40))}`,
    (want) => document.getElementById('status').textContent === want, expected, timeout);

async function waitForBox(page, timeout = STATE_MS) {
    await waitFor(page, 'a box', () => document.getElementById('box').open, null, timeout);
    return page.$eval('#box', (box) => ({
        caption: box.querySelector('#box-caption').textContent,
        text: box.querySelector('#box-text').textContent,
        whole: box.textContent,
        buttons: [...box.querySelectorAll('button')].map((b) => b.value),
    }));
}

// Another box may open right after, so the answer is seen in the count of closed boxes.
async function answer(page, value) {
    const answered = await page.$eval('#box', (box) => Number(box.dataset.answered || 0));
    await page.click(`#box button[value="${value}"]`);
    await waitFor(page, 'the box to close', (before) => Number(document.getElementById('box').dataset.answered || 0) > before,
        answered);
}

function expectEqual(actual, expected, what) {
    if (JSON.stringify(actual) !== JSON.stringify(expected)) {
        throw new Error(`${what}: ${JSON.stringify(actual)} where ${JSON.stringify(expected)} was expected`);
    }
}

function expectTrue(condition, what) {
    if (!condition) throw new Error(what);
}

async function rows(page) {
    return page.evaluate(() => Object.fromEntries(['unit-name', 'unit-version', 'bootloader-version', 'firmware-version',
        'model'].map((id) => [id, document.getElementById(id).textContent])));
}

const updateEnabled = (page) => page.$eval('#update', (b) => !b.disabled);

// Clicks Update and answers the warning (and the version question, when asked) with the given values.
async function startUpdate(page, warning = 'ok', language = 'en') {
    await waitFor(page, 'the update button', () => !document.getElementById('update').disabled);
    await page.click('#update');
    const box = await waitForBox(page);
    expectEqual([box.caption, box.text, box.buttons], [shown(40037, language), shown(40038, language), ['ok', 'cancel']],
        'the warning');
    await answer(page, warning);
}

function imageBytes(model) {
    return [...fs.readFileSync(path.join(BUILD_DIR, `image-${MODELS[model].image}.bin`))];
}

// The ESC's flash after an update: the image, then erased flash.
async function expectFlashHoldsImage(page, model) {
    const image = imageBytes(model);
    const flash = await page.evaluate((length) => window.hidDouble.flash(0, length), image.length + 1024);
    let firstDifference = -1;
    for (let i = 0; i < image.length && firstDifference < 0; ++i) if (flash[i] !== image[i]) firstDifference = i;
    expectEqual(firstDifference, -1, `first flash byte that differs from the ${MODELS[model].name} image`);
    expectTrue(flash.slice(image.length).every((b) => b === 0xFF), 'flash past the image is erased');
}

// Every request went out as report 1 with exactly the output report's length less the ID.
async function expectWireReports(page, outputBytes) {
    const sent = await page.evaluate(() => window.hidDouble.sent(0));
    expectTrue(sent.length > 0, 'requests were sent');
    const odd = sent.filter((s) => s.reportId !== 1 || s.length !== outputBytes - 1);
    expectEqual(odd.slice(0, 3), [], `reports other than ID 1 with ${outputBytes - 1} bytes`);
}

// The update's course from its transcript: wall time from the lock request to the last reply, and
// the shortest and longest pause between a data block's reply and the next request.
async function courseOf(page, model) {
    const transcript = await page.evaluate(() => window.hidDouble.transcript(0));
    const first = transcript.findIndex((r) => r.command === CMD.lock);
    const last = transcript[transcript.length - 1];
    const pauses = [];
    for (let i = first; i + 1 < transcript.length; ++i) {
        if (transcript[i].command === CMD.data) pauses.push(transcript[i + 1].receivedAt - transcript[i].sentAt);
    }
    pauses.sort((x, y) => x - y);
    const shortest = pauses[0];
    const median = pauses[Math.floor(pauses.length / 2)];
    const blocks = Math.ceil(MODELS[model].bytes / BLOCK_BYTES);
    const floorMs = (4 + blocks) * STEP_PAUSE_MS + ERASE_REPLY_DELAY_MS + ERASE_SETTLE_MS;
    const wallMs = last.sentAt - transcript[first].receivedAt;
    return {shortest, median, ratio: wallMs / floorMs, wallMs, floorMs};
}

async function wholeUpdate(page, model, outputBytes = 60) {
    await waitForStatus(page, shown(40000));
    await startUpdate(page);
    await waitFor(page, 'the progress bar', (bytes) => {
        const p = document.getElementById('progress');
        return !p.hidden && p.max === bytes && p.value > 0;
    }, MODELS[model].bytes);
    await waitForStatus(page, shown(40032), WHOLE_UPDATE_MS);
    expectEqual(await rows(page), {'unit-name': 'VEXO-BOX', 'unit-version': '1.5', 'bootloader-version': '2.3',
        'firmware-version': '2.0', model: MODELS[model].name}, 'the rows after the update');
    expectEqual(await updateEnabled(page), false, 'update enabled after success');
    expectEqual(await page.$eval('#progress', (p) => p.hidden), true, 'progress hidden after the transfer');
    await expectFlashHoldsImage(page, model);
    await expectWireReports(page, outputBytes);
    // The window hears of the transfer once per percent, each time with the bytes sent by then.
    const values = await page.evaluate(() => window.progressValues);
    const percents = values.map((v) => Math.floor(v * 100 / MODELS[model].bytes));
    expectTrue(values.length <= 101 && new Set(percents).size === percents.length, `${values.length} positions, one per percent`);
    expectEqual(values[values.length - 1], MODELS[model].bytes, 'the last position');
    return courseOf(page, model);
}

// ---- The cases

const CASES = [];
const test = (name, run, options = {}) => CASES.push({name, run, ...options});

test('at load with nothing granted: no unit, steps, nothing to update', async ({open}) => {
    const page = await open({units: [unitOf(60, {granted: false})]});
    await waitForStatus(page, withSteps(40017));
    expectEqual(await updateEnabled(page), false, 'update enabled');
    expectEqual(await rows(page), {'unit-name': shown(40039), 'unit-version': '0.0.0', 'bootloader-version': '0.0.0',
        'firmware-version': '0.0.0', model: ''}, 'rows');
    expectEqual(await page.evaluate(() => window.hidDouble.requests(0, 0x08)), 0, 'requests to a unit never granted');
});

for (const [model, product, family, label] of [[60, 1, FAMILY_A, 'DIALPUCK'], [140, 2, FAMILY_B, 'VEXO-BOX'],
                                               [90, 2, FAMILY_A, 'VEXO-BOX']]) {
    test(`connect and identify: ${MODELS[model].name} on a ${label}`, async ({open}) => {
        const page = await open({units: [{escHardwareId: family | MODELS[model].idByte, productId: product,
                                          escFirmwareVersion: 0x0107}]});
        await waitForStatus(page, withSteps(40017));
        await page.click('#connect');
        await waitForStatus(page, shown(40000));
        expectEqual(await rows(page), {'unit-name': label, 'unit-version': '1.5', 'bootloader-version': '2.3',
            'firmware-version': '1.7', model: MODELS[model].name}, 'rows');
        expectEqual(await updateEnabled(page), true, 'update enabled');
        await expectWireReports(page, 60);
    });
}

test('a unit granted before is taken up at load without asking', async ({open}) => {
    const page = await open({units: [unitOf(140)]});
    await waitForStatus(page, shown(40000));
    expectEqual((await rows(page)).model, 'ZEPHANT 140 LV', 'model');
});

test('a unit plugged in later is identified on its arrival', async ({open}) => {
    const page = await open({units: []});
    await waitForStatus(page, withSteps(40017));
    await page.evaluate((hwid) => window.hidDouble.plug({escHardwareId: hwid, granted: true}, true), FAMILY_A | 0x5A);
    await waitForStatus(page, shown(40000));
    expectEqual((await rows(page)).model, 'ZEPHANT 90 LV', 'model');
});

const VERDICTS = [
    {label: 'unit in its own bootloader', unit: unitOf(60, {unitMode: 1}), status: withSteps(40015)},
    {label: 'no ESC attached', unit: unitOf(60, {attachedType: 0}), status: withSteps(40016)},
    {label: 'another device attached', unit: unitOf(60, {attachedType: 2}), status: withSteps(40016)},
    {label: 'an ESC of none of the models', unit: {escHardwareId: FAMILY_A | 0x11, granted: true},
     status: withSteps(40035), box: true},
    {label: 'a model byte under a foreign family', unit: {escHardwareId: 0x1234563C, granted: true},
     status: withSteps(40035), box: true},
];
for (const v of VERDICTS) {
    test(`verdict: ${v.label}`, async ({open}) => {
        const page = await open({units: [v.unit]});
        if (v.box) {
            const box = await waitForBox(page);
            expectEqual([box.caption, box.text, box.buttons], [shown(40033), pageText('noModel'), ['ok']], 'the box');
            await answer(page, 'ok');
        }
        await waitForStatus(page, v.status);
        expectEqual(await updateEnabled(page), false, 'update enabled');
        expectEqual((await rows(page)).model, '', 'model');
        expectEqual((await rows(page))['unit-version'], '0.0.0', 'the unit version of a refused unit');
    });
}

test('opening refused: the udev rule and its commands are shown', async ({open}) => {
    const page = await open({units: [unitOf(60, {refuseOpen: true})]});
    await waitForStatus(page, withSteps(40017));
    const notice = await text(page, '#notice');
    expectTrue(notice.includes('SUBSYSTEM=="hidraw", ATTRS{idVendor}=="2f1e", ATTRS{idProduct}=="0002", TAG+="uaccess"'),
        `the notice holds the rule: ${notice}`);
    expectTrue(notice.includes('sudo udevadm control --reload-rules && sudo udevadm trigger'), 'the notice holds the commands');
});

test('report lengths come from the collections: 33-byte requests, 20-byte replies', async ({open}) => {
    const page = await open({units: [unitOf(60, {inputBytes: 20, outputBytes: 33})]});
    await waitForStatus(page, shown(40000));
    await expectWireReports(page, 33);
});

for (const model of [60, 140, 90]) {
    test(`whole update: ${MODELS[model].name}, the flash holds the image`, async ({open}) => {
        const page = await open({units: [unitOf(model)], countProgress: true});
        const course = await wholeUpdate(page, model);
        expectTrue(course.shortest >= STEP_PAUSE_MS, `a pause after a block of ${course.shortest.toFixed(2)} ms`);
    }, {long: true});
}

const FAILURES = [
    // A state command's reply is held to the state it asked for first: an error reply echoes none.
    {label: 'the lock gets an error reply', fault: {kind: FAULT.ErrorReply, command: CMD.lock, errorCode: 0xE101},
     step: 40026, code: 1627, lastError: 0},
    {label: 'the lock is refused', fault: {kind: FAULT.FailWrite, command: CMD.lock},
     step: 40026, code: -2, lastError: EIO},
    {label: 'the protection request is refused', fault: {kind: FAULT.FailWrite, command: CMD.protect},
     step: 40027, code: -2, lastError: EIO},
    {label: 'the erase is never answered', fault: {kind: FAULT.NeverAnswer, command: CMD.erase},
     step: 40028, code: -3, lastError: ETIMEDOUT},
    {label: 'the address gets an error reply', fault: {kind: FAULT.ErrorReply, command: CMD.address, errorCode: 0xE103},
     step: 40008, code: 0xE103, lastError: 0},
    {label: 'block 7 gets an error reply', fault: {kind: FAULT.ErrorReply, command: CMD.data, block: 7, errorCode: 0xE102},
     step: 40009, code: 0xE102, lastError: 0},
    {label: 'the reply to block 3 is lost', fault: {kind: FAULT.FailRead, command: CMD.data, block: 3},
     step: 40009, code: -3, lastError: ETIMEDOUT},
    {label: 'the erase gets an error reply, in German', fault: {kind: FAULT.ErrorReply, command: CMD.erase, errorCode: 0xE102},
     step: 40028, code: 0xE102, lastError: 0, language: 'de'},
];
for (const f of FAILURES) {
    test(`failing step: ${f.label}`, async ({open, openGerman}) => {
        const language = f.language || 'en';
        const page = await (language === 'de' ? openGerman : open)({units: [unitOf(60, {fault: f.fault})]});
        await waitForStatus(page, shown(40000, language));
        await startUpdate(page, 'ok', language);
        const box = await waitForBox(page, 20000);
        const expected = failureText(f.step, f.code, f.lastError, language);
        expectEqual([box.caption, box.text, box.buttons], [shown(40002, language), expected, ['ok']], 'the failure box');
        expectTrue(box.whole.includes(shown(40002, language)) && box.whole.includes(expected),
            'the box\'s textContent holds caption and text');
        await answer(page, 'ok');
        await waitForStatus(page, shown(40030, language));
        expectEqual(await updateEnabled(page), false, 'update enabled after a failure');
        expectEqual((await rows(page))['firmware-version'], '0.0.0', 'rows after a failure');
    });
}

// Whether leaving the page now would make the browser ask first.
const leavingAsks = (page) => page.evaluate(() => {
    const event = new Event('beforeunload', {cancelable: true});
    window.dispatchEvent(event);
    return event.defaultPrevented;
});

test('unplugged in the middle of the transfer: the block fails, nothing claims success', async ({open}) => {
    const page = await open({units: [unitOf(60)]});
    await waitForStatus(page, shown(40000));
    expectEqual(await leavingAsks(page), false, 'leaving asks before the update');
    await startUpdate(page);
    await waitFor(page, 'a third of the image sent', () => document.getElementById('progress').value > 30000, null, WHOLE_UPDATE_MS);
    expectEqual(await leavingAsks(page), true, 'leaving asks during the transfer');
    expectEqual(await updateEnabled(page), false, 'update enabled during the transfer');
    await page.evaluate(() => window.hidDouble.unplug(0));
    const box = await waitForBox(page);
    const accepted = [failureText(40009, -2, ENODEV), failureText(40009, -3, ENODEV)];
    expectTrue(box.caption === shown(40002) && accepted.includes(box.text), `the failure box: ${JSON.stringify(box)}`);
    await answer(page, 'ok');
    await waitForStatus(page, `${shown(40030)}\n\n${pageText('replugged')}`);
    expectEqual(await updateEnabled(page), false, 'update enabled');
    await waitFor(page, 'leaving free again', () => {
        const event = new Event('beforeunload', {cancelable: true});
        window.dispatchEvent(event);
        return !event.defaultPrevented;
    });
    const flash = await page.evaluate(() => window.hidDouble.flash(0, 97536));
    expectTrue(flash.slice(90000).every((b) => b === 0xFF), 'the flash past the unplug is still erased');
});

test('the open unit removed while ready: connection lost with the steps', async ({open}) => {
    const page = await open({units: [unitOf(60)]});
    await waitForStatus(page, shown(40000));
    await page.evaluate(() => window.hidDouble.unplug(0));
    await waitForStatus(page, `${withSteps(40020)}\n\n${pageText('replugged')}`);
    expectEqual(await updateEnabled(page), false, 'update enabled');
    expectEqual((await rows(page))['unit-version'], '0.0.0', 'rows');
});

test('the version question answered no: nothing is sent, still ready', async ({open}) => {
    const page = await open({units: [unitOf(90, {escFirmwareVersion: 0x0200})]});
    await waitForStatus(page, shown(40000));
    await startUpdate(page);
    const box = await waitForBox(page);
    expectEqual([box.caption, box.text, box.buttons], [shown(40025), shown(40023), ['yes', 'no']], 'the question');
    await answer(page, 'no');
    await waitFor(page, 'the button back', () => !document.getElementById('update').disabled);
    expectEqual(await page.evaluate(() => window.hidDouble.requests(0, 0x0B)), 0, 'lock requests');
    expectEqual(await text(page, '#status'), shown(40000), 'status');
});

test('the warning cancelled: nothing is sent, still ready', async ({open}) => {
    const page = await open({units: [unitOf(60)]});
    await waitForStatus(page, shown(40000));
    await startUpdate(page, 'cancel');
    await waitFor(page, 'the button back', () => !document.getElementById('update').disabled);
    expectEqual(await page.evaluate(() => window.hidDouble.requests(0, 0x0B)), 0, 'lock requests');
});

test('German: the catalogue\'s German texts and the page\'s own', async ({openGerman}) => {
    const page = await openGerman({units: [unitOf(60)]});
    await waitForStatus(page, shown(40000, 'de'));
    expectEqual(await text(page, '#connect'), 'Programmiergerät verbinden', 'the connect button');
    await startUpdate(page, 'cancel', 'de');
    const empty = await openGerman({units: []});
    await waitForStatus(empty, withSteps(40017, 'de'));
});

test('no WebHID: the page says which browsers work and where else to go', async ({open}) => {
    const page = await open({hid: 'none'});
    await waitFor(page, 'the notice', () => !document.getElementById('notice').hidden);
    const notice = await text(page, '#notice');
    expectTrue(/Chrome or Edge 131 or later/.test(notice) && /Windows program/.test(notice) && /quenlor/.test(notice),
        `the notice: ${notice}`);
    expectEqual(await page.$eval('#connect', (b) => b.disabled), true, 'connect enabled');
});

test('?sim=140: the built-in simulated unit, identified as the dialog would', async ({open}) => {
    const page = await open({hid: 'none', query: '?sim=140'});
    await waitForStatus(page, shown(40000));
    expectEqual((await rows(page)).model, 'ZEPHANT 140 LV', 'model');
});

test('whole update while another tab is in front: the pauses keep their length', async ({openThrottled}) => {
    const {page, hideBehind} = await openThrottled({units: [unitOf(140)]});
    await waitForStatus(page, shown(40000));
    await startUpdate(page);
    await hideBehind();
    expectEqual(await page.evaluate(() => document.visibilityState), 'hidden', 'the page\'s visibility');
    await waitForStatus(page, shown(40032), WHOLE_UPDATE_MS);
    await expectFlashHoldsImage(page, 140);
    const course = await courseOf(page, 140);
    expectTrue(course.shortest >= STEP_PAUSE_MS, `a pause after a block of ${course.shortest.toFixed(2)} ms`);
    // A hidden window's timers fire about once a second, which would make every pause a second
    // long and the whole update half an hour; the worker's keep their 20 ms. (A single pause may
    // still stretch when the machine is busy, so the median and the whole are held, not the longest.)
    expectTrue(course.median < 30, `the median pause after a block: ${course.median.toFixed(2)} ms`);
    // The page's own time from the double's stamps: the double's messages to its units are not the page's.
    const own = await page.evaluate(() => window.hidDouble.ownTime(0, 'behind another tab'));
    expectTrue(own.error === '' && own.ownRatio < 1.5, `the page's own time: ${own.error || own.line}`);
}, {long: true});

// ---- Tabs, several units, and units coming and going around the boxes

test('two tabs, one unit: the second waits, sends nothing, and takes the unit when the first lets go',
    async ({open, openTab}) => {
        const first = await open({units: [unitOf(60)]});
        await waitForStatus(first, shown(40000));
        const identifications = await first.evaluate(() => window.hidDouble.requests(0, 0x08));
        const second = await openTab(first);
        await waitForStatus(second, pageText('unitInUse'));
        expectEqual(await second.evaluate(() => window.hidDouble.requests(0, 0x08)), identifications,
            'identification requests while the other tab holds the unit');
        expectEqual(await updateEnabled(second), false, 'update enabled in the waiting tab');
        await first.close();
        await waitForStatus(second, shown(40000));
        expectEqual(await updateEnabled(second), true, 'update enabled once the unit is free');
    });

test('two units granted and attached: none is identified, and forgetting one takes the other', async ({open}) => {
    const page = await open({units: [unitOf(60), unitOf(90)]});
    await waitForStatus(page, pageText('severalUnits'));
    const asked = await page.evaluate(async () => [await window.hidDouble.requests(0, 0x08), await window.hidDouble.requests(1, 0x08)]);
    expectEqual(asked, [0, 0], 'identification requests to the two units');
    expectEqual(await page.$$eval('#units button', (b) => b.map((x) => x.textContent)), ['Forget VexoBOX 1', 'Forget VexoBOX 2'],
        'the buttons');
    await page.click('#units button');
    await waitForStatus(page, shown(40000));
    expectEqual((await rows(page)).model, 'ZEPHANT 90 LV', 'the unit left');
    expectEqual(await page.evaluate(() => window.hidDouble.requests(0, 0x08)), 0, 'identification requests to the forgotten unit');
});

test('unplugged while the warning is open: OK fails at the system lock, nothing claims success', async ({open}) => {
    const page = await open({units: [unitOf(60)]});
    await waitForStatus(page, shown(40000));
    await page.click('#update');
    await waitForBox(page);
    await page.evaluate(() => window.hidDouble.unplug(0));
    await answer(page, 'ok');
    const box = await waitForBox(page);
    expectEqual([box.caption, box.text], [shown(40002), failureText(40026, -2, ENODEV)], 'the failure box');
    await answer(page, 'ok');
    await waitForStatus(page, `${shown(40030)}\n\n${pageText('replugged')}`);
});

test('a unit plugged in again while the failure box is open is identified after it', async ({open}) => {
    const page = await open({units: [unitOf(60, {fault: {kind: FAULT.ErrorReply, command: CMD.lock, errorCode: 0xE101}})]});
    await waitForStatus(page, shown(40000));
    await startUpdate(page);
    await waitForBox(page);
    await page.evaluate(() => window.hidDouble.unplug(0));
    await page.evaluate((hwid) => window.hidDouble.plug({escHardwareId: hwid, granted: true}), FAMILY_A | 0x5A);
    await answer(page, 'ok');
    await waitForStatus(page, shown(40000));
    expectEqual([await updateEnabled(page), (await rows(page)).model], [true, 'ZEPHANT 90 LV'], 'update enabled, model');
});

test('plugged in again after the browser dropped its permission: the status says to click Connect', async ({open}) => {
    const page = await open({units: [unitOf(60)]});
    await waitForStatus(page, shown(40000));
    await page.evaluate(() => window.hidDouble.unplug(0, true));
    await page.evaluate((hwid) => window.hidDouble.plug({escHardwareId: hwid, granted: false}), FAMILY_A | 0x3C);
    await waitForStatus(page, `${withSteps(40020)}\n\n${pageText('replugged')}`);
    await page.click('#connect');
    await waitForStatus(page, shown(40000));
});

// ---- The screen wake lock

// A wake lock whose request is granted after grantMs, released by the browser when the tab is
// hidden; the page's visibility is the double's.
function installWakeLockDouble(grantMs) {
    const held = new Set();
    const state = {visible: true, requests: 0, granted: 0};
    window.wakeLockDouble = {state, held: () => held.size};
    Object.defineProperty(Document.prototype, 'visibilityState', {get: () => (state.visible ? 'visible' : 'hidden')});
    const change = (visible) => {
        state.visible = visible;
        if (!visible) for (const sentinel of [...held]) sentinel.release();
        document.dispatchEvent(new Event('visibilitychange'));
    };
    Object.assign(window.wakeLockDouble, {hide: () => change(false), show: () => change(true)});
    const wakeLock = {request: () => new Promise((resolve) => {
        ++state.requests;
        setTimeout(() => {
            const sentinel = new EventTarget();
            sentinel.release = async () => {
                if (!held.delete(sentinel)) return;
                sentinel.dispatchEvent(new Event('release'));
            };
            held.add(sentinel);
            ++state.granted;
            resolve(sentinel);
        }, grantMs);
    })};
    Object.defineProperty(Navigator.prototype, 'wakeLock', {get: () => wakeLock});
}

const wakeState = (page) => page.evaluate(() => ({...window.wakeLockDouble.state, held: window.wakeLockDouble.held()}));

test('wake lock granted after the update failed at once: released', async ({open}) => {
    const page = await open({units: [unitOf(60, {fault: {kind: FAULT.FailWrite, command: CMD.lock}})], wakeLockMs: 500});
    await waitForStatus(page, shown(40000));
    await startUpdate(page);
    await waitForBox(page);
    await waitFor(page, 'the wake lock granted', () => window.wakeLockDouble.state.granted === 1);
    expectEqual((await wakeState(page)).held, 0, 'wake locks held after the failure');
});

test('wake lock taken again when the tab is shown again during the transfer', async ({open}) => {
    const page = await open({units: [unitOf(60)], wakeLockMs: 0});
    await waitForStatus(page, shown(40000));
    await startUpdate(page);
    await waitFor(page, 'the wake lock held', () => window.wakeLockDouble.held() === 1);
    await page.evaluate(() => window.wakeLockDouble.hide());
    await page.evaluate(() => window.wakeLockDouble.show());
    await waitFor(page, 'the wake lock held again', () => window.wakeLockDouble.held() === 1);
    expectEqual((await wakeState(page)).requests, 2, 'requests');
});

// ---- Pages that cannot run

const CANNOT_START = [
    {label: 'quenlor.wasm missing', options: {cookies: {missing: 'quenlor.wasm'}}, cause: 'parts'},
    {label: 'worker.js missing', options: {cookies: {missing: 'worker.js'}}, cause: 'parts'},
    {label: 'opened from a file', options: {hid: 'real'}, fromFile: true, cause: 'fromFile'},
];
for (const c of CANNOT_START) {
    test(`the page cannot start: ${c.label}`, async ({open}) => {
        const page = await open({units: [unitOf(60)], ...c.options,
                                 address: c.fromFile ? `file://${path.join(PAGE_DIR, 'index.html')}` : undefined});
        await waitForStatus(page, `${pageText('failed')}\n${pageText(c.cause)}`);
        expectEqual(await page.$eval('#connect', (b) => b.disabled), true, 'connect enabled');
    });
}

const WITHOUT_WEBHID = [{label: 'none at all', hid: 'none'}, {label: 'in the window, not in workers', hid: 'windowOnly'}];
for (const w of WITHOUT_WEBHID) {
    test(`WebHID ${w.label}: the page names the browsers, keeps its labels`, async ({open}) => {
        const page = await open({hid: w.hid});
        await waitFor(page, 'the notice', () => !document.getElementById('notice').hidden);
        expectEqual(await text(page, '#notice'), pageText('noWebHid'), 'the notice');
        await waitFor(page, 'the row labels', () => document.getElementById('bootloader-label').textContent !== '');
        expectEqual((await rows(page))['unit-name'], shown(40039), 'the first row\'s label');
        expectEqual(await page.$eval('#connect', (b) => b.disabled), true, 'connect enabled');
    });
}

const FRAMED = [
    {label: 'by a server without the headers: the page refuses', headers: false},
    {label: 'by a server with the headers: the browser shows no page', headers: true},
];
for (const f of FRAMED) {
    test(`framed by another site, ${f.label}`, async ({open, framing}) => {
        const page = await open({units: [unitOf(60)], address: framing(f.headers)});
        const frame = await waitForFrame(page);
        if (f.headers) {
            expectEqual(await frame.$('#connect'), null, 'the page in the frame');
            return;
        }
        await waitFor(frame, 'the refusal', () => document.getElementById('status').textContent !== '');
        expectEqual(await text(frame, '#status'), pageText('framed'), 'the status');
        expectEqual(await frame.$eval('#connect', (b) => b.disabled), true, 'connect enabled');
        expectEqual(await frame.evaluate(() => window.hidDouble.requests(0, 0x08)), 0, 'identification requests');
    });
}

test('a unit that sends reports of itself: only the newest 32 are kept', async ({open}) => {
    const page = await open({units: [unitOf(60)]});
    await waitForStatus(page, shown(40000));
    await page.evaluate(() => window.hidDouble.flood(0, 100));
    const worker = page.workers().find((w) => new URL(w.url()).pathname.endsWith('/worker.js'));
    const queued = () => worker.evaluate(() => [...(typeof hid === 'undefined' ? webHid : hid).queues.values()][0].length);
    const deadline = Date.now() + STATE_MS;
    while ((await queued()) < 32 && Date.now() < deadline) await sleep(POLL_MS);
    await sleep(POLL_MS * 4);
    expectEqual(await queued(), 32, 'reports queued');
});

// ---- Report lengths, counted within the unit's collection

const unitCollection = (inputId, outputId, inputBytes = 60, outputBytes = 60) => ({usagePage: 0xFF00, usage: 1, children: [],
    inputReports: [{reportId: inputId, items: [{reportSize: 8, reportCount: inputBytes - 1}]}],
    outputReports: [{reportId: outputId, items: [{reportSize: 8, reportCount: outputBytes - 1}]}], featureReports: []});
const REPORT_LAYOUTS = [
    {label: 'a 63-byte report in another collection does not count', status: shown(40000),
     collections: [unitCollection(2, 1), {usagePage: 0x0001, usage: 6, children: [], outputReports: [], featureReports: [],
                                          inputReports: [{reportId: 3, items: [{reportSize: 8, reportCount: 63}]}]}]},
    {label: 'reports without IDs are refused in words before anything is sent',
     status: PAGE_TEXTS.fillText(pageText('reportsWithoutIds'), {requestId: 1, replyId: 2}), collections: [unitCollection(0, 0)]},
];
for (const r of REPORT_LAYOUTS) {
    test(`report lengths: ${r.label}`, async ({open}) => {
        const page = await open({units: [unitOf(60, {collections: r.collections})]});
        await waitForStatus(page, r.status);
        const sent = await page.evaluate(() => window.hidDouble.sent(0));
        expectEqual(sent.filter((x) => x.length !== 59).length, 0, 'requests other than 59 bytes after the ID');
        if (r.status !== shown(40000)) expectEqual(sent.length, 0, 'requests sent to a refused unit');
    });
}

// ---- Stand-in images

const STAND_IN = [
    {label: 'a unit, plain address: Update stays disabled', query: '', enabled: false},
    {label: 'a unit, stand-in=allow: Update enabled', query: '?stand-in=allow', enabled: true},
    {label: 'the simulated unit: Update enabled', query: '?sim=60', enabled: true, hid: 'none'},
];
for (const row of STAND_IN) {
    test(`stand-in images, ${row.label}`, async ({open}) => {
        const page = await open({units: [unitOf(60)], query: row.query, hid: row.hid});
        await waitForStatus(page, shown(40000));
        await waitFor(page, 'the notice', () => !document.getElementById('stand-in').hidden);
        expectEqual(await text(page, '#stand-in'), pageText('standIn'), 'the notice');
        await waitFor(page, 'the update button settled', (want) => !document.getElementById('update').disabled === want, row.enabled);
    });
}

// ---- What the person sees during the update

test('during the update: the running status from the OK, the bar from the lock, percent and time left', async ({open}) => {
    const page = await open({units: [unitOf(60)]});
    await waitForStatus(page, shown(40000));
    expectEqual(await page.evaluate(() => [document.getElementById('status').getAttribute('aria-live'),
        document.getElementById('progress').getAttribute('aria-label'),
        document.getElementById('box').getAttribute('aria-labelledby')]), ['polite', 'Firmware transfer', 'box-caption'],
    'the live status and the accessible names');
    await startUpdate(page);
    await waitForStatus(page, shown(40029));
    await waitFor(page, 'the bar without a value', () => {
        const p = document.getElementById('progress');
        return !p.hidden && !p.hasAttribute('value');
    });
    await waitFor(page, 'a third of the image sent', () => document.getElementById('progress').value > 30000, null, WHOLE_UPDATE_MS);
    expectTrue(/^\d+ % {2}\d+:\d\d left$/.test(await text(page, '#progress-text')), `the line: ${await text(page, '#progress-text')}`);
});

require('./offline_cases.js').addOfflineCases(test, {PAGE_DIR, TEST_DIRS, STATE_MS, WHOLE_UPDATE_MS, shown, unitOf, waitFor,
    waitForStatus, startUpdate, wholeUpdate, expectEqual});

// ---- Running

async function launch(throttled, language) {
    const args = ['--no-sandbox', '--disable-gpu', `--accept-lang=${language}`];
    const options = {executablePath: CHROMIUM, headless: true, args};
    // Without these three defaults of the driver, a page in the background is slowed as in a user's browser.
    if (throttled) options.ignoreDefaultArgs = ['--disable-background-timer-throttling',
        '--disable-renderer-backgrounding', '--disable-backgrounding-occluded-windows'];
    return puppeteer.launch(options);
}

// ---- The bench: three whole updates of the ZEPHANT 60 LV in a tab in front, then three in a tab
// behind another, each measured by the page's own time (tests/bench/own_time.h) from the double's
// stamps. Returns the count of figures that cannot be right.

async function runBench(tools) {
    const REPEATS = 3;
    const ratios = {front: [], behind: []};
    let wrong = 0;
    for (const where of ['front', 'behind']) {
        for (let repeat = 1; repeat <= REPEATS; ++repeat) {
            const label = `web ZEPHANT 60 LV ${where === 'front' ? 'in front' : 'behind another tab'} repeat ${repeat}`;
            let page;
            if (where === 'front') {
                page = await tools.open({units: [unitOf(60)], countProgress: true});
                await wholeUpdate(page, 60);
            } else {
                const hidden = await tools.openThrottled({units: [unitOf(60)]});
                page = hidden.page;
                await waitForStatus(page, shown(40000));
                await startUpdate(page);
                await hidden.hideBehind();
                await waitForStatus(page, shown(40032), WHOLE_UPDATE_MS);
            }
            const figures = await page.evaluate((l) => window.hidDouble.ownTime(0, l), label);
            await page.close();
            if (figures.error) {
                ++wrong;
                console.log(`${label}: bench error: ${figures.error}`);
                continue;
            }
            console.log(figures.line);
            ratios[where].push(figures.ownRatio);
        }
    }
    const spread = (values) => {
        const sorted = [...values].sort((a, b) => a - b);
        return {median: sorted[Math.floor(sorted.length / 2)] || 0, spread: (sorted[sorted.length - 1] - sorted[0]) || 0};
    };
    const front = spread(ratios.front), behind = spread(ratios.behind);
    for (const [name, s] of [['in front', front], ['behind another tab', behind]]) {
        console.log(`web own ratios ${name}: spread ${s.spread.toFixed(4)}, goal 1.01 ${s.median <= 1.01 ? 'met' : 'not met'}`);
    }
    console.log(`web update ratio: ${front.median.toFixed(4)}`);
    console.log(`web update ratio hidden: ${behind.median.toFixed(4)}`);
    return wrong;
}

async function main() {
    const args = process.argv.slice(2);
    const bench = args.includes('--bench');
    const filterAt = args.indexOf('--filter');
    const filter = filterAt >= 0 ? args[filterAt + 1] : null;
    for (const needed of [path.join(PAGE_DIR, 'index.html'), path.join(BUILD_DIR, 'sim_double.js')]) {
        if (!fs.existsSync(needed)) {
            console.error(`run-web-tests: ${needed} is missing; build the web preset first`);
            process.exit(2);
        }
    }
    const server = await startServer(PAGE_DIR, TEST_DIRS);
    const base = `http://127.0.0.1:${server.address().port}/`;
    // The page as a careless server serves it, for a frame of another site (localhost is another
    // site than 127.0.0.1).
    const plainServer = await startServer(PAGE_DIR, TEST_DIRS, 0, {securityHeaders: false});
    const plainBase = `http://127.0.0.1:${plainServer.address().port}/`;
    const browsers = {en: await launch(false, 'en-US,en'), de: null, throttled: null};
    const pages = [];
    const track = (page) => (pages.push(page), page);
    const tools = {
        open: async (options) => track(await openPage(browsers.en, base, options)),
        // The offline cases serve the page themselves, each from an origin of its own.
        openAt: async (pageBase, options) => track(await openPage(browsers.en, pageBase, options)),
        browser: browsers.en,
        // The page again in another tab of the same browser context, with the same units.
        openTab: async (first) => {
            const page = await first.browserContext().newPage();
            await preparePage(page, base, {});
            await page.goto(first.url());
            return track(page);
        },
        framing: (headers) => `http://localhost:${server.address().port}/test/frame?src=` +
            encodeURIComponent(`${headers ? base : plainBase}${DOUBLE_QUERY}`),
        openGerman: async (options) => {
            browsers.de = browsers.de || await launch(false, 'de-DE,de');
            return track(await openPage(browsers.de, base, options));
        },
        // A page of a browser that throttles the background, and a way to put another tab in front of it.
        openThrottled: async (options) => {
            browsers.throttled = browsers.throttled || await launch(true, 'en-US,en');
            const context = await browsers.throttled.createBrowserContext();
            const page = await context.newPage();
            await preparePage(page, base, options);
            await page.goto(`${base}${DOUBLE_QUERY}`);
            track(page);
            return {page, hideBehind: async () => {
                const front = await context.newPage();
                await front.goto('about:blank');
                await front.bringToFront();
                await waitFor(page, 'the page hidden', () => document.visibilityState === 'hidden');
            }};
        },
    };

    let failed = 0;
    if (bench) {
        failed = await runBench(tools);
    } else {
        const chosen = CASES.filter((c) => !filter || c.name.includes(filter));
        const started = Date.now();
        // The long cases all at once; the short ones a few at a time beside them.
        const runCase = async (c) => {
            const t0 = Date.now();
            try {
                await c.run(tools);
                console.log(`ok    ${c.name} (${((Date.now() - t0) / 1000).toFixed(1)} s)`);
            } catch (error) {
                ++failed;
                console.log(`FAIL  ${c.name}: ${error.message}`);
            }
        };
        const long = chosen.filter((c) => c.long).map(runCase);
        const short = chosen.filter((c) => !c.long);
        const lanes = Array.from({length: 4}, async () => {
            while (short.length > 0) await runCase(short.shift());
        });
        await Promise.all([...long, ...lanes]);
        const errors = pages.flatMap((p) => p.errors || []);
        if (errors.length > 0) {
            ++failed;
            console.log(`FAIL  page errors: ${errors.slice(0, 3).join(' | ')}`);
        }
        console.log(`web: ${chosen.length - failed} of ${chosen.length} cases passed in ${((Date.now() - started) / 1000).toFixed(1)} s`);
    }
    for (const browser of Object.values(browsers)) if (browser) await browser.close();
    server.close();
    plainServer.close();
    process.exit(failed === 0 ? 0 : 1);
}

main().catch((error) => {
    console.error(error);
    process.exit(1);
});
