// The page's worker: runs the core (quenlor.js, WebAssembly) one call at a time, and gives it the
// device through the window (Module.webHid) and the person through boxes the window shows
// (Module.ask). Its timers keep their length while the page is in a background tab.
'use strict';
// The core of the page's own build (see page_offline.js).
importScripts(`quenlor.js${self.location.search}`);

// TransferOutcome of web/hid_port_web.cpp.
const TIMED_OUT = 1, DEVICE_GONE = 2;
let requestId = 0;
const pendingReplies = new Map();  // request id -> resolve
let pendingAnswer = null;

function post(message, transfer) { self.postMessage(message, transfer || []); }

function askWindow(message, transfer) {
    return new Promise((resolve) => {
        const id = ++requestId;
        pendingReplies.set(id, resolve);
        post({type: 'hid', id, ...message}, transfer);
    });
}

function withTimeout(promise, timeoutMs, onTimeout) {
    return new Promise((resolve) => {
        const timer = setTimeout(() => resolve(onTimeout), timeoutMs);
        promise.then((value) => {
            clearTimeout(timer);
            resolve(value);
        });
    });
}

const webHid = {
    listed: [],
    queues: new Map(),   // number -> input reports not read yet, of an opened device
    readers: new Map(),  // number -> resolve of the read waiting for a report
    goneDevices: new Set(),
    async list() {
        const listed = await askWindow({op: 'list'});
        if (listed === null) return -1;
        this.listed = listed;
        return listed.length;
    },
    field(index, field) {
        const d = this.listed[index];
        return d ? [d.number, d.vendorId, d.productId, d.inputBytes, d.outputBytes][field] : 0;
    },
    async open(number) {
        this.queues.set(number, []);
        const failure = await askWindow({op: 'open', number});
        if (failure === 0) this.goneDevices.delete(number);
        else this.queues.delete(number);
        return failure;
    },
    close(number) {
        this.queues.delete(number);
        this.wake(number, DEVICE_GONE);
        post({type: 'hid', op: 'close', number});
    },
    gone(number) { return this.goneDevices.has(number); },
    discard(number) {
        const queue = this.queues.get(number);
        if (queue) queue.length = 0;
    },
    async write(number, bytes, timeoutMs) {
        return withTimeout(askWindow({op: 'write', number, bytes}, [bytes.buffer]), timeoutMs, TIMED_OUT);
    },
    async read(number, timeoutMs) {
        const queue = this.queues.get(number);
        if (!queue || this.goneDevices.has(number)) return DEVICE_GONE;
        if (queue.length > 0) return queue.shift();
        const arrived = new Promise((resolve) => this.readers.set(number, resolve));
        const outcome = await withTimeout(arrived, timeoutMs, TIMED_OUT);
        this.readers.delete(number);
        if (outcome === TIMED_OUT || outcome === DEVICE_GONE) return outcome;
        return queue.shift();
    },
    wake(number, value) {
        const reader = this.readers.get(number);
        if (reader) reader(value);
    },
    input(number, data) {
        const queue = this.queues.get(number);
        if (!queue) return;
        queue.push(data);
        this.wake(number, 0);
    },
    disconnected(number) {
        const wasOpen = this.queues.has(number);
        this.goneDevices.add(number);
        this.wake(number, DEVICE_GONE);
        return wasOpen;
    },
};

let core = null;
let calls = Promise.resolve();
let updateRunning = false;

// One call into the core at a time, in order.
function queueCall(name, args) {
    calls = calls.then(() => core.ccall(name, null, args.map(() => 'number'), args, {async: true}))
        .catch((error) => post({type: 'fatal', text: String(error && error.stack || error)}));
    return calls;
}

async function start(message) {
    core = await createQuenlor({
        locateFile: (file, prefix) => `${prefix}${file}${self.location.search}`,
        webHid,
        post,
        ask: (buttons, caption, text, sentence) => new Promise((resolve) => {
            pendingAnswer = resolve;
            post({type: 'ask', buttons, caption, text, sentence});
        }),
    });
    queueCall('quenlorStart', [message.german ? 1 : 0, message.simModelIdByte || 0]);
    queueCall('quenlorEvaluate', [1]);
    calls.then(() => post({type: 'started', standIn: core.ccall('quenlorImagesAreStandIns', 'number', [], []) === 1}));
}

self.onmessage = (event) => {
    const message = event.data;
    switch (message.type) {
        case 'start': start(message); break;
        case 'hidReply': {
            const resolve = pendingReplies.get(message.id);
            pendingReplies.delete(message.id);
            if (resolve) resolve(message.result);
            break;
        }
        case 'input': webHid.input(message.number, message.data); break;
        case 'answer': if (pendingAnswer) { const resolve = pendingAnswer; pendingAnswer = null; resolve(message.yes ? 1 : 0); } break;
        case 'evaluate':
            // The update holds the link: a unit that arrives meanwhile is not looked at.
            if (!updateRunning) queueCall('quenlorEvaluate', [message.startUp ? 1 : 0]);
            break;
        case 'disconnected':
            if (webHid.disconnected(message.number)) queueCall('quenlorRemoved', []);
            break;
        case 'update':
            if (updateRunning) break;
            updateRunning = true;
            post({type: 'busy', on: true});
            queueCall('quenlorUpdate', []).then(() => {
                updateRunning = false;
                post({type: 'busy', on: false});
            });
            break;
    }
};
