// The page's window: the DOM, the browser's chooser (requestDevice needs the click) and what the
// worker (worker.js) tells it to show; the worker runs the core and reaches the unit itself, and
// the window tells it to look again after the chooser. ?sim=60, 140 or 90 runs against the
// simulated unit built into the core instead of WebHID.
'use strict';

const language = (navigator.language || '').toLowerCase().startsWith('de') ? 'de' : 'en';
const texts = PAGE_TEXTS[language];
const byId = (id) => document.getElementById(id);

const page = {
    worker: null,
    started: false,
    updateAllowed: false,
    standInBlocked: false,
    busy: false,
    status: '',
    transferStartedAt: 0,
};
const wake = {wanted: false, asking: false, sentinel: null};

// "\r\n" in the catalogue is a line break on the page.
const asShown = (text) => text.replace(/\r\n/g, '\n');

function showNotice(text) {
    const notice = byId('notice');
    notice.textContent = text;
    notice.hidden = false;
}

function setStatus(text) {
    page.status = text;
    byId('status').textContent = text;
}

// A line of the page's own below what the core last said.
function addToStatus(text) { byId('status').textContent = `${page.status}\n\n${text}`; }

function refreshUpdateButton() { byId('update').disabled = !page.updateAllowed || page.busy || page.standInBlocked; }

function showVersions(message) {
    if (message.unitName !== null) byId('unit-name').textContent = message.unitName;
    byId('unit-version').textContent = message.unitVersion;
    byId('bootloader-version').textContent = message.bootloaderVersion;
    byId('firmware-version').textContent = message.firmwareVersion;
    byId('model').textContent = message.model;
    byId('versions').classList.toggle('unlinked', !message.linked);
}

const twoDigits = (n) => String(n).padStart(2, '0');

// From the system lock on the bar runs without a value (the erase alone takes seconds); during the
// transfer its value is the bytes sent, beside the percent and the time left.
function showProgress(message) {
    const progress = byId('progress');
    const line = byId('progress-text');
    if (message.state === 'end') {
        progress.hidden = true;
        line.hidden = true;
        return;
    }
    if (message.state === 'lock') {
        progress.removeAttribute('value');
        line.textContent = '';
    } else {
        progress.max = message.max;
        progress.value = message.value;
        const left = message.leftS === undefined ? '--:--' : `${Math.floor(message.leftS / 60)}:${twoDigits(message.leftS % 60)}`;
        line.textContent = fillText(texts.progressLine, {percent: message.percent || 0, left});
    }
    progress.hidden = false;
    line.hidden = false;
}

const BUTTONS = {ok: [['ok', 'ok']], okcancel: [['ok', 'ok'], ['cancel', 'cancel']], yesno: [['yes', 'yes'], ['no', 'no']]};

// A question or a failure as a modal <dialog>: the caption, the text, and buttons whose value is
// the answer. Closing it with Escape counts as the last button (cancel, no).
function ask(message) {
    const box = byId('box');
    byId('box-caption').textContent = message.caption;
    byId('box-text').textContent = asShown(message.text !== null ? message.text : texts[message.sentence]);
    const buttons = byId('box-buttons');
    buttons.replaceChildren();
    const choices = BUTTONS[message.buttons];
    for (const [value, label] of choices) {
        const button = document.createElement('button');
        button.value = value;
        button.textContent = texts[label];
        buttons.append(button);
    }
    box.returnValue = '';
    box.addEventListener('close', () => {
        box.dataset.answered = String(Number(box.dataset.answered || 0) + 1);
        const answer = box.returnValue || choices[choices.length - 1][0];
        page.worker.postMessage({type: 'answer', yes: answer === 'ok' || answer === 'yes'});
    }, {once: true});
    box.showModal();
    buttons.firstChild.focus();
}

// The screen stays on while the update sends, where the browser grants it: a lock that comes too
// late is let go at once, and one the browser dropped while the tab was hidden is taken again.
async function takeWakeLock() {
    if (!wake.wanted || wake.sentinel || wake.asking || !navigator.wakeLock || document.visibilityState !== 'visible') return;
    wake.asking = true;
    let sentinel = null;
    try {
        sentinel = await navigator.wakeLock.request('screen');
    } catch (error) {
        sentinel = null;  // not granted: the update runs on regardless
    }
    wake.asking = false;
    if (!sentinel) return;
    if (!wake.wanted) {
        sentinel.release().catch(() => {});
        return;
    }
    wake.sentinel = sentinel;
    sentinel.addEventListener('release', () => {
        if (wake.sentinel === sentinel) wake.sentinel = null;
    });
    // Hidden while it was being granted.
    takeWakeLock();
}

function keepScreenAwake(on) {
    wake.wanted = on;
    if (on) {
        takeWakeLock();
    } else if (wake.sentinel) {
        const sentinel = wake.sentinel;
        wake.sentinel = null;
        sentinel.release().catch(() => {});
    }
}

function cannotStart(cause) {
    byId('connect').disabled = true;
    setStatus(`${texts.failed}\n${texts[cause]}`);
}

// More than one unit: a button for each to forget it, so that the page may take the other.
function offerToForget(units) {
    setStatus(texts.severalUnits);
    const list = byId('units');
    list.replaceChildren(...units.map((unit, i) => {
        const button = document.createElement('button');
        button.type = 'button';
        button.textContent = fillText(texts.forget, {unit: `${unit.name} ${i + 1}`});
        button.addEventListener('click', () => {
            list.hidden = true;
            list.replaceChildren();
            page.worker.postMessage({type: 'forget', number: unit.number});
        });
        return button;
    }));
    list.hidden = false;
}

function onWorkerMessage(event) {
    const message = event.data;
    switch (message.type) {
        case 'status':
            byId('units').hidden = true;
            setStatus(asShown(message.text));
            break;
        case 'labels':
            byId('unit-name').textContent = message.unitRow;
            byId('bootloader-label').textContent = message.bootloaderRow;
            byId('firmware-label').textContent = message.escRow;
            break;
        case 'versions': showVersions(message); break;
        case 'updateEnabled': page.updateAllowed = message.enabled; refreshUpdateButton(); break;
        case 'progress': showProgress(message); break;
        case 'awake':
            keepScreenAwake(message.on);
            showProgress({state: message.on ? 'lock' : 'end'});
            break;
        case 'busy': page.busy = message.on; refreshUpdateButton(); offlineUpdateRunning(message.on); break;
        case 'ask': ask(message); break;
        case 'openRefused':
            showNotice(/Linux/.test(navigator.userAgent) && !/Android|CrOS/.test(navigator.userAgent)
                ? `${texts.accessRefusedLinux}\n\n${message.udevHint}` : texts.accessRefused);
            break;
        case 'reportsRefused': {
            const key = 'reports' + message.layout[0].toUpperCase() + message.layout.slice(1);
            const usagePage = '0x' + message.usagePage.toString(16).toUpperCase().padStart(4, '0');
            setStatus(fillText(texts[key], {...message, usagePage}));
            break;
        }
        case 'unitInUse': setStatus(texts.unitInUse); break;
        case 'severalUnits': offerToForget(message.units); break;
        case 'removed': addToStatus(texts.replugged); break;
        case 'noWorkerHid':
            byId('connect').disabled = true;
            showNotice(texts.noWebHid);
            break;
        case 'started':
            page.started = true;
            // Marked where tools look, and told to the person.
            if (message.standIn) {
                document.documentElement.dataset.standInImages = 'yes';
                byId('stand-in').textContent = texts.standIn;
                byId('stand-in').hidden = false;
            }
            page.standInBlocked = message.standInBlocked;
            refreshUpdateButton();
            break;
        case 'cannotStart': cannotStart(message.cause); break;
        case 'fatal': showNotice(`${texts.failed}\n${message.text}`); break;
    }
}

// The browser asks before the page is closed or reloaded while the update writes the ESC.
window.addEventListener('beforeunload', (event) => {
    if (!page.busy) return;
    event.preventDefault();
    event.returnValue = '';
});
document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible') takeWakeLock();
});

// start: {simModelIdByte, standInAllowed, labelsOnly}; false when the worker cannot be made.
function startWorker(start) {
    try {
        page.worker = new Worker(`worker.js${PAGE_BUILD_QUERY}`);
    } catch (error) {
        cannotStart(location.protocol === 'file:' ? 'fromFile' : 'parts');
        return false;
    }
    page.worker.onmessage = onWorkerMessage;
    // A worker script that did not load; later errors are the core's and come as messages.
    page.worker.onerror = () => {
        if (!page.started) cannotStart(location.protocol === 'file:' ? 'fromFile' : 'parts');
    };
    page.worker.postMessage({type: 'start', german: language === 'de', simModelIdByte: 0, ...start});
    return true;
}

// A site may frame the page with allow="hid" and steer clicks onto Update and OK; the page runs
// only as its own top-level page or in a frame of its own origin.
function framedByAnotherSite() {
    if (window.top === window.self) return false;
    try {
        return window.top.location.origin !== location.origin;
    } catch (error) {
        return true;
    }
}

function main() {
    document.documentElement.lang = language;
    byId('title').textContent = texts.title;
    byId('connect').textContent = texts.connect;
    byId('update').textContent = texts.update;
    byId('model-label').textContent = texts.modelRow;
    byId('progress').setAttribute('aria-label', texts.progressName);
    if (framedByAnotherSite()) {
        setStatus(texts.framed);
        return;
    }
    startOffline(texts);
    byId('update').addEventListener('click', () => {
        if (page.updateAllowed && !page.busy && !page.standInBlocked) page.worker.postMessage({type: 'update'});
    });

    const query = new URLSearchParams(location.search);
    const standInAllowed = query.get('stand-in') === 'allow';
    const sim = query.get('sim');
    if (sim !== null && SIM_MODELS[sim] !== undefined) {
        showNotice(texts.simulated);
        if (!startWorker({simModelIdByte: SIM_MODELS[sim]})) return;
        byId('connect').disabled = false;
        byId('connect').addEventListener('click', () => page.worker.postMessage({type: 'evaluate', startUp: true}));
        return;
    }
    if (!window.isSecureContext || !navigator.hid) {
        showNotice(window.isSecureContext ? texts.noWebHid : texts.notSecure);
        // The rows keep their labels.
        startWorker({labelsOnly: true});
        return;
    }
    // Units granted before are taken up again without asking, by the worker.
    if (!startWorker({standInAllowed})) return;
    byId('connect').disabled = false;
    byId('connect').addEventListener('click', async () => {
        let chosen = [];
        try {
            chosen = await navigator.hid.requestDevice({filters: UNIT_FILTERS});
        } catch (error) {
            chosen = [];
        }
        if (chosen.length > 0) page.worker.postMessage({type: 'evaluate', startUp: true});
    });
}

main();
