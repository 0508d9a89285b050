// The page: the window owns navigator.hid and the DOM; the core runs in the worker (worker.js) and
// tells the page what to show. ?sim=60, 140 or 90 runs against the simulated unit built into the
// core instead of WebHID.
'use strict';
const SIM_MODELS = {60: 0x3C, 140: 0x8C, 90: 0x5A};

const language = (navigator.language || '').toLowerCase().startsWith('de') ? 'de' : 'en';
const texts = PAGE_TEXTS[language];
const byId = (id) => document.getElementById(id);

const page = {
    worker: null,
    hid: null,
    updateAllowed: false,
    busy: false,
    wakeLock: null,
};

// "\r\n" in the catalogue is a line break on the page.
const asShown = (text) => text.replace(/\r\n/g, '\n');

function showNotice(text) {
    const notice = byId('notice');
    notice.textContent = text;
    notice.hidden = false;
}

function refreshUpdateButton() { byId('update').disabled = !page.updateAllowed || page.busy; }

function showVersions(message) {
    if (message.unitName !== null) byId('unit-name').textContent = message.unitName;
    byId('unit-version').textContent = message.unitVersion;
    byId('bootloader-version').textContent = message.bootloaderVersion;
    byId('firmware-version').textContent = message.firmwareVersion;
    byId('model').textContent = message.model;
    byId('versions').classList.toggle('unlinked', !message.linked);
}

function showProgress(message) {
    const progress = byId('progress');
    if (message.state === 'end') {
        progress.hidden = true;
        return;
    }
    progress.max = message.max;
    progress.value = message.value;
    progress.hidden = false;
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

async function keepScreenAwake(on) {
    if (on && navigator.wakeLock) {
        try {
            page.wakeLock = await navigator.wakeLock.request('screen');
        } catch (error) {
            page.wakeLock = null;  // not granted: the update runs on regardless
        }
    } else if (!on && page.wakeLock) {
        page.wakeLock.release().catch(() => {});
        page.wakeLock = null;
    }
}

function onWorkerMessage(event) {
    const message = event.data;
    switch (message.type) {
        case 'status': byId('status').textContent = asShown(message.text); break;
        case 'labels':
            byId('unit-name').textContent = message.unitRow;
            byId('bootloader-label').textContent = message.bootloaderRow;
            byId('firmware-label').textContent = message.escRow;
            break;
        case 'versions': showVersions(message); break;
        case 'updateEnabled': page.updateAllowed = message.enabled; refreshUpdateButton(); break;
        case 'progress': showProgress(message); break;
        case 'awake': keepScreenAwake(message.on); break;
        case 'busy': page.busy = message.on; refreshUpdateButton(); offlineUpdateRunning(message.on); break;
        case 'ask': ask(message); break;
        case 'openRefused':
            showNotice(/Linux/.test(navigator.userAgent) && !/Android|CrOS/.test(navigator.userAgent)
                ? `${texts.accessRefusedLinux}\n\n${message.udevHint}` : texts.accessRefused);
            break;
        case 'hid': page.hid.handle(message); break;
        case 'started':
            // Marked where tools look, never in what the person reads.
            if (message.standIn) document.documentElement.dataset.standInImages = 'yes';
            break;
        case 'fatal': showNotice(`${texts.failed}\n${message.text}`); break;
    }
}

// The browser asks before the page is closed or reloaded while the update writes the ESC.
window.addEventListener('beforeunload', (event) => {
    if (!page.busy) return;
    event.preventDefault();
    event.returnValue = '';
});

function startWorker(simModelIdByte) {
    page.worker = new Worker(`worker.js${PAGE_BUILD_QUERY}`);
    page.worker.onmessage = onWorkerMessage;
    page.worker.postMessage({type: 'start', german: language === 'de', simModelIdByte});
}

function main() {
    document.documentElement.lang = language;
    byId('title').textContent = texts.title;
    byId('connect').textContent = texts.connect;
    byId('update').textContent = texts.update;
    byId('model-label').textContent = texts.modelRow;
    startOffline(texts);
    byId('update').addEventListener('click', () => {
        if (page.updateAllowed && !page.busy) page.worker.postMessage({type: 'update'});
    });

    const sim = new URLSearchParams(location.search).get('sim');
    if (sim !== null && SIM_MODELS[sim] !== undefined) {
        showNotice(texts.simulated);
        byId('connect').disabled = false;
        byId('connect').addEventListener('click', () => page.worker.postMessage({type: 'evaluate', startUp: true}));
        startWorker(SIM_MODELS[sim]);
        return;
    }
    if (!window.isSecureContext) {
        showNotice(texts.notSecure);
        return;
    }
    if (!navigator.hid) {
        showNotice(texts.noWebHid);
        return;
    }
    page.hid = new PageHid(navigator.hid, (message, transfer) => page.worker.postMessage(message, transfer));
    navigator.hid.addEventListener('connect', (event) => {
        if (isProgrammingUnit(event.device)) page.worker.postMessage({type: 'evaluate', startUp: false});
    });
    navigator.hid.addEventListener('disconnect', (event) => {
        const number = page.hid.knownNumber(event.device);
        if (number >= 0) page.worker.postMessage({type: 'disconnected', number});
    });
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
    // Units granted before are taken up again without asking.
    startWorker(0);
}

main();
