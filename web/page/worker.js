// The page's worker: runs the core (quenlor.js, WebAssembly) one call at a time, reaches the unit
// itself through its own navigator.hid (page_hid.js, Module.webHid) and the person through the
// window, which shows what it is told and asks the boxes (Module.ask). No report crosses to the
// window. Its timers keep their length while the page is in a background tab.
'use strict';
// The window's messages: start {german, simModelIdByte, standInAllowed, labelsOnly}, evaluate {startUp},
// update, answer {yes}, forget {number}.

function post(message, transfer) { self.postMessage(message, transfer || []); }

function cannotStart(cause) { post({type: 'cannotStart', cause}); }

let loaded = false;
try {
    // The page's own build of them (see page_offline.js).
    importScripts(...['page_constants.js', 'page_hid.js', 'quenlor.js'].map((file) => `${file}${self.location.search}`));
    loaded = true;
} catch (error) {
    cannotStart('parts');
}

// The core's catalogue: the status of an update under way.
const MSG_PROGRESS_TITLE = 40029;
const PERCENT_FULL = 100;

let core = null;
let hid = null;
let sim = false;
let standInBlocked = false;
let calls = Promise.resolve();
let updateRunning = false;
let pendingAnswer = null;
// The transfer as the window last heard of it: a message only when the percent moves.
const transfer = {shownPercent: -1, startedAtMs: 0};

// One call into the core at a time, in order; steps of the worker's own go in the same queue.
function enqueue(step) {
    calls = calls.then(step).catch((error) => post({type: 'fatal', text: String(error && error.stack || error)}));
    return calls;
}
const callCore = (name, args) => core.ccall(name, null, args.map(() => 'number'), args, {async: true});

// The unit's lock goes when no device is open any more, so that another tab may take the unit.
function letLockGoWhenIdle() {
    if (hid && !updateRunning && hid.openCount() === 0) hid.lock.let();
}

// Looks at the granted units before the core may open one: none is opened while another tab holds
// the unit, or while more than one is attached (the person's pick in the chooser cannot reach this
// worker, and the wrong ESC must not be written).
function evaluate(startUp) {
    return enqueue(async () => {
        if (!sim && hid.openCount() === 0) {
            const units = await hid.units();
            if (units !== null && units.length > 1) {
                post({type: 'severalUnits', units});
                return;
            }
            if (units !== null && units.length === 1 && !(await hid.lock.take())) {
                post({type: 'unitInUse'});
                hid.lock.wait(() => evaluate(1));
                return;
            }
        }
        await callCore('quenlorEvaluate', [startUp]);
        letLockGoWhenIdle();
    });
}

function removed(device) {
    if (!hid.disconnected(device)) return;
    enqueue(async () => {
        await callCore('quenlorRemoved', []);
        letLockGoWhenIdle();
        // The browser may have forgotten the unit at the unplug; then it comes back unannounced.
        post({type: 'removed'});
    });
}

function progressOf(message) {
    if (message.state === 'start') {
        transfer.shownPercent = -1;
        transfer.startedAtMs = performance.now();
    }
    if (message.state !== 'position') return message;
    const percent = Math.floor(message.value * PERCENT_FULL / message.max);
    if (percent === transfer.shownPercent) return null;
    transfer.shownPercent = percent;
    // Time left as quenlor reckons it: the time so far, spread over the part still to send.
    const elapsedMs = performance.now() - transfer.startedAtMs;
    const leftS = message.value >= message.max ? 0 : Math.floor(elapsedMs * (message.max - message.value) / message.value / 1000);
    return {...message, percent, leftS};
}

// What the core tells the window, with the update's own status and a bounded flow of progress.
function fromCore(message) {
    if (message.type === 'progress') {
        const shown = progressOf(message);
        if (shown) post(shown);
        return;
    }
    if (message.type === 'awake' && message.on) {
        post({type: 'status', text: core.wideText(core.ccall('quenlorCatalogueText', 'number', ['number'], [MSG_PROGRESS_TITLE]))});
    }
    post(message);
}

// labelsOnly: no unit can be reached (no WebHID in the window, no secure context); the core
// gives the rows their labels all the same.
async function start(message) {
    sim = message.simModelIdByte !== 0;
    let devices = !message.labelsOnly;
    if (devices && !sim) {
        if (self.navigator.hid) {
            hid = new UnitHid(self.navigator.hid, self.navigator.locks);
            self.navigator.hid.addEventListener('connect', (event) => {
                if (isProgrammingUnit(event.device)) evaluate(0);
            });
            self.navigator.hid.addEventListener('disconnect', (event) => removed(event.device));
        } else {
            post({type: 'noWorkerHid'});
            devices = false;
        }
    }
    try {
        core = await createQuenlor({
            locateFile: (file, prefix) => `${prefix}${file}${self.location.search}`,
            webHid: hid,
            post: fromCore,
            ask: (buttons, caption, text, sentence) => new Promise((resolve) => {
                pendingAnswer = resolve;
                post({type: 'ask', buttons, caption, text, sentence});
            }),
        });
    } catch (error) {
        cannotStart('parts');
        return;
    }
    const standIn = core.ccall('quenlorImagesAreStandIns', 'number', [], []) === 1;
    standInBlocked = standIn && !sim && !message.standInAllowed;
    post({type: 'started', standIn, standInBlocked});
    enqueue(() => callCore('quenlorStart', [message.german ? 1 : 0, message.simModelIdByte || 0]));
    if (devices) evaluate(1);
}

self.onmessage = (event) => {
    const message = event.data;
    if (!loaded) return;
    switch (message.type) {
        case 'start': start(message); break;
        case 'answer':
            if (pendingAnswer) {
                const resolve = pendingAnswer;
                pendingAnswer = null;
                resolve(message.yes ? 1 : 0);
            }
            break;
        // A unit that arrives during the update is looked at once the update call is over, as
        // the core then finds the link.
        case 'evaluate': if (core) evaluate(message.startUp ? 1 : 0); break;
        case 'forget':
            if (hid) enqueue(() => hid.forget(message.number)).then(() => evaluate(1));
            break;
        case 'update':
            if (!core || updateRunning || standInBlocked) break;
            updateRunning = true;
            post({type: 'busy', on: true});
            enqueue(() => callCore('quenlorUpdate', [])).then(() => {
                updateRunning = false;
                letLockGoWhenIdle();
                post({type: 'busy', on: false});
            });
            break;
    }
};
