// The page as an installed app that works without a network: registers the service worker
// (service_worker.js), asks the browser to keep the page's storage, and lets a new build take
// over only while no tab of the page runs an update. A tab holds the shared lock UPDATE_LOCK from
// the start of an update to its end; a waiting build is told to take over only by a tab that gets
// the lock exclusively, and that tab keeps it until the new build is in charge.
'use strict';
// "?build=<hash>" of the build this page comes from (the build step marks index.html's references
// with it): the worker and the core are asked for with it, so that they come from the same build.
const PAGE_BUILD_QUERY = document.currentScript ? new URL(document.currentScript.src).search : '';

const pageOffline = {
    registration: null,
    updateRunning: false,
    releaseUpdateLock: null,
    updateLockFreed: Promise.resolve(),  // settles once this tab's lock is given back
    newVersionText: '',
};
const UPDATE_LOCK = `quenlor update running ${new URL('./', location.href).pathname}`;

function showNewVersion() {
    const line = document.getElementById('new-version');
    line.textContent = pageOffline.newVersionText;
    line.hidden = false;
}

function whenSettled(worker) {
    return new Promise((resolve) => {
        const settled = () => worker.state === 'activated' || worker.state === 'redundant';
        if (settled()) return resolve();
        worker.addEventListener('statechange', () => settled() && resolve());
    });
}

// A waiting build takes over now unless a tab runs an update; the tab whose update ends asks again.
function offerNewBuild() {
    const waiting = pageOffline.registration && pageOffline.registration.waiting;
    if (!waiting || pageOffline.updateRunning) return;
    if (!navigator.locks) {
        waiting.postMessage({type: 'skipWaiting'});
        return;
    }
    navigator.locks.request(UPDATE_LOCK, {mode: 'exclusive', ifAvailable: true}, (lock) => {
        if (!lock) return null;
        waiting.postMessage({type: 'skipWaiting'});
        return whenSettled(waiting);
    }).catch(() => {});
}

// A build that arrives while one is in charge is announced once it has taken over.
function watchNewBuild(worker) {
    if (!worker) return;
    worker.addEventListener('statechange', () => {
        if (worker.state === 'installed') offerNewBuild();
        if (worker.state === 'activated') showNewVersion();
    });
}

function lookForNewBuild() {
    if (!pageOffline.registration) return;
    pageOffline.registration.update().catch(() => {}).then(offerNewBuild);
}

// Called with true when this tab's update begins and with false when it has ended.
function offlineUpdateRunning(on) {
    if (on === pageOffline.updateRunning) return;
    pageOffline.updateRunning = on;
    if (on) {
        if (navigator.locks) {
            pageOffline.updateLockFreed = navigator.locks.request(UPDATE_LOCK, {mode: 'shared'}, () => (pageOffline.updateRunning
                ? new Promise((resolve) => { pageOffline.releaseUpdateLock = resolve; }) : null)).catch(() => {});
        }
        return;
    }
    if (pageOffline.releaseUpdateLock) pageOffline.releaseUpdateLock();
    pageOffline.releaseUpdateLock = null;
    pageOffline.updateLockFreed.then(lookForNewBuild);
}

async function startOffline(texts) {
    pageOffline.newVersionText = texts.newVersion;
    if (!('serviceWorker' in navigator)) return;
    // So that a browser short of space does not drop the cached build before the next trip to the
    // field; whether it grants that is its own choice.
    if (navigator.storage && navigator.storage.persist) navigator.storage.persist().catch(() => false);
    try {
        const registration = await navigator.serviceWorker.register('service_worker.js');
        pageOffline.registration = registration;
        registration.addEventListener('updatefound', () => {
            if (registration.active) watchNewBuild(registration.installing);
        });
        if (registration.active) watchNewBuild(registration.installing || registration.waiting);
        lookForNewBuild();
    } catch (error) {
        // Without a service worker the page still works while its server answers.
    }
}
