// The page's service worker: keeps every file of one build in a cache named after that build, so
// that the page starts without a network once it has been opened, and answers from that cache
// before the network. The build step (web/make_offline.js) puts 'use strict' and two constants
// before this text: BUILD, a hash of the build's files, and FILES, each file's name and SHA-256.
//
// One build at a time, and never a mix: a new build is fetched whole and checked file by file
// before it may take over; it waits until the page tells it that no tab runs an update; and a
// file asked for with "?build=<hash>" (the page asks so for its scripts, its worker and the core)
// comes from that build's cache or not at all, so a page that is still loading when a newer
// build takes over fails to start instead of running the newer build's worker.
const SCOPE = self.registration.scope;
const CACHE_PREFIX = `quenlor ${SCOPE} `;
const cacheName = (build) => CACHE_PREFIX + build;

async function sha256(bytes) {
    const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
    return Array.from(digest, (b) => b.toString(16).padStart(2, '0')).join('');
}

async function precache() {
    const name = cacheName(BUILD);
    const cache = await caches.open(name);
    try {
        for (const [file, hash] of Object.entries(FILES)) {
            const response = await fetch(new Request(new URL(file, SCOPE), {cache: 'no-store'}));
            if (!response.ok) throw new Error(`${file}: HTTP ${response.status}`);
            const body = await response.arrayBuffer();
            if (await sha256(body) !== hash) {
                throw new Error(`${file} is not the one of build ${BUILD} (the server changed while it was fetched)`);
            }
            // Kept as a plain answer: a server that redirected index.html to the folder would
            // otherwise leave a redirected response, which a browser refuses as a page.
            await cache.put(new URL(file, SCOPE), new Response(body, {status: response.status, headers: response.headers}));
        }
    } catch (error) {
        await caches.delete(name);
        throw error;  // the install fails; the browser tries again on a later load
    }
}

async function dropOlderBuilds() {
    for (const name of await caches.keys()) {
        if (name.startsWith(CACHE_PREFIX) && name !== cacheName(BUILD)) await caches.delete(name);
    }
}

async function answer(file, build) {
    if (await caches.has(cacheName(build))) {
        const cached = await (await caches.open(cacheName(build))).match(new URL(file, SCOPE));
        if (cached) return cached;
    }
    // Another build's file is gone with its cache; its page must not get this build's instead.
    if (build !== BUILD) return Response.error();
    return fetch(new URL(file, SCOPE));
}

self.addEventListener('install', (event) => event.waitUntil(precache()));
self.addEventListener('activate', (event) => event.waitUntil(dropOlderBuilds()));

self.addEventListener('message', (event) => {
    if (event.data && event.data.type === 'skipWaiting') self.skipWaiting();
});

self.addEventListener('fetch', (event) => {
    const request = event.request;
    const url = new URL(request.url);
    if (request.method !== 'GET' || !url.href.startsWith(SCOPE)) return;
    let file = url.pathname.slice(new URL(SCOPE).pathname.length);
    // The page's address, with whatever query (?sim=60, stand-in=allow), is the cached page.
    if (request.mode === 'navigate') {
        if (file !== '' && file !== 'index.html') return;
        file = 'index.html';
    }
    // Anything else, such as a test's own files, goes to the network as if there were no worker.
    if (!Object.prototype.hasOwnProperty.call(FILES, file)) return;
    const build = request.mode === 'navigate' ? BUILD : url.searchParams.get('build') || BUILD;
    event.respondWith(answer(file, build));
});
