// The page without a network and as an installed app: each case serves dist/web/ from a server
// of its own (an origin of its own, so each starts with no service worker and no cache), opens it
// once, then takes the server away or swaps the build it serves. Three of them run a whole update;
// they queue behind the short cases rather than beside the other whole updates, which share the
// machine's two cores with them.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const {execFileSync} = require('child_process');
const {startServer, withWorkerHid} = require('./serve.js');

const ROOT = path.resolve(__dirname, '..', '..');
const MAKE_OFFLINE = path.join(ROOT, 'web', 'make_offline.js');
const WORKER_TEMPLATE = path.join(ROOT, 'web', 'page', 'service_worker.js');
const PNG_SIGNATURE = '89504e470d0a1a0a';

function addOfflineCases(test, rig) {
    const {PAGE_DIR, TEST_DIRS, STATE_MS, WHOLE_UPDATE_MS, shown, unitOf, waitFor, waitForStatus, startUpdate,
           wholeUpdate, expectEqual} = rig;

    async function serveSite() {
        const server = await startServer(PAGE_DIR, TEST_DIRS);
        const base = `http://127.0.0.1:${server.address().port}/`;
        const stop = () => new Promise((resolve) => {
            if (!server.listening) return resolve();
            server.close(() => resolve());
            server.closeAllConnections();
        });
        return {server, base, stop};
    }

    // The service worker in charge, its build in the cache.
    const workerReady = (page) => waitFor(page, 'the service worker in charge',
        () => navigator.serviceWorker.getRegistration().then((r) => !!(r && r.active)));
    const controlled = (page) => page.evaluate(() => navigator.serviceWorker.controller !== null);
    const cacheNames = (page) => page.evaluate(() => caches.keys());
    const buildOf = (folder) => fs.readFileSync(path.join(folder, 'index.html'), 'utf8').match(/\?build=([0-9a-f]+)/)[1];
    const newVersionLine = (page) => page.$eval('#new-version', (line) => (line.hidden ? null : line.textContent));

    // What the page's dedicated worker says buildMark is (the second build's worker sets it).
    async function workerMark(page) {
        for (const deadline = Date.now() + STATE_MS; page.workers().length === 0 && Date.now() < deadline;) {
            await new Promise((resolve) => setTimeout(resolve, 50));
        }
        return page.workers()[0].evaluate(() => (self.buildMark === undefined ? 'first' : self.buildMark));
    }

    // dist/web/ with one script changed, named after its new content as the build names it.
    function secondBuild() {
        const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quenlor-second-build-'));
        fs.cpSync(PAGE_DIR, folder, {recursive: true});
        fs.appendFileSync(path.join(folder, 'worker.js'), '\nself.buildMark = \'second\';\n');
        const build = execFileSync(process.execPath, [MAKE_OFFLINE, folder, WORKER_TEMPLATE], {encoding: 'utf8'}).trim();
        return {folder, build};
    }

    test('offline 1: opened once, the page starts with its server gone and ?sim=60 runs a whole update', async ({openAt}) => {
        const site = await serveSite();
        try {
            const page = await openAt(site.base, {hid: 'real', query: '', beforeLoad: () => {
                const persist = StorageManager.prototype.persist;
                StorageManager.prototype.persist = function () {
                    window.persistCalls = (window.persistCalls || 0) + 1;
                    return persist.call(this);
                };
            }});
            await workerReady(page);
            expectEqual(await page.evaluate(() => window.persistCalls), 1, 'calls of navigator.storage.persist()');
            await site.stop();
            expectEqual(await fetch(site.base).then(() => 'answered', () => 'refused'), 'refused', 'the server after it stopped');
            await page.goto(`${site.base}?sim=60`);
            await waitForStatus(page, shown(40000));
            expectEqual(await controlled(page), true, 'the page served by its service worker');
            await startUpdate(page);
            await waitForStatus(page, shown(40032), WHOLE_UPDATE_MS);
        } finally {
            await site.stop();
        }
    });

    test('offline 2: a granted unit is identified and updated as online, every page file from the cache', async ({openAt}) => {
        const site = await serveSite();
        try {
            // The service worker keeps only the page's own worker.js, so the double is put into the
            // cached one, as the test server puts it into the one it serves.
            const page = await openAt(site.base, {units: [unitOf(60)], cookies: {'worker-hid': 'real'}, countProgress: true});
            await workerReady(page);
            const worker = withWorkerHid(fs.readFileSync(path.join(PAGE_DIR, 'worker.js'), 'utf8'), 'double');
            await page.evaluate(async (source) => {
                const cache = await caches.open((await caches.keys())[0]);
                await cache.put(new URL('worker.js', location.href),
                    new Response(source, {headers: {'Content-Type': 'text/javascript'}}));
            }, worker);
            site.server.pageOffline = true;  // the double's files (/test/) are still served
            await page.reload();
            await wholeUpdate(page, 60);
            // Only the service worker's own look for a newer build went to the network.
            expectEqual(site.server.refused.filter((file) => file !== '/service_worker.js'), [],
                'page files asked of the server while offline');
        } finally {
            await site.stop();
        }
    });

    test('offline 3: a second build waits for the running update, then takes over at the next load', async ({openAt}) => {
        const site = await serveSite();
        const second = secondBuild();
        try {
            const first = await openAt(site.base, {hid: 'real', query: '?sim=60'});
            await workerReady(first);
            await first.reload();
            expectEqual(await controlled(first), true, 'the page served by its service worker');
            await waitForStatus(first, shown(40000));
            await startUpdate(first);
            await waitFor(first, 'the transfer', () => document.getElementById('progress').value > 0, null, 20000);

            site.server.pageRoot = second.folder;
            const other = await first.browserContext().newPage();
            await other.goto(`${site.base}?sim=60`);
            await waitFor(other, 'the second build waiting',
                () => navigator.serviceWorker.getRegistration().then((r) => !!(r && r.waiting)));
            // What the first page's status says when the second build begins to take over.
            await first.evaluate(() => navigator.serviceWorker.getRegistration().then((r) => {
                r.waiting.addEventListener('statechange', (event) => {
                    if (event.target.state === 'activating') window.statusAtTakeOver = document.getElementById('status').textContent;
                });
            }));
            expectEqual([await workerMark(first), await workerMark(other)], ['first', 'first'],
                'the builds of the workers while the update runs');
            expectEqual([await newVersionLine(first), await newVersionLine(other)], [null, null],
                'the new version announced during the update');

            await waitForStatus(first, shown(40032), WHOLE_UPDATE_MS);
            await waitFor(first, 'the second build taking over', () => window.statusAtTakeOver !== undefined);
            expectEqual(await first.evaluate(() => window.statusAtTakeOver), shown(40032), 'the status at the take-over');
            await waitFor(first, 'the new version line', () => !document.getElementById('new-version').hidden);
            expectEqual(await newVersionLine(first), await first.evaluate(() => PAGE_TEXTS.en.newVersion), 'the line');
            const firstBuild = buildOf(PAGE_DIR);
            expectEqual(await first.evaluate((build) => fetch(`worker.js?build=${build}`).then(() => 'served', () => 'refused'),
                firstBuild), 'refused', 'the first build\'s worker asked for after its cache was dropped');

            await first.reload();
            await waitForStatus(first, shown(40000));
            expectEqual(await workerMark(first), 'second', 'the worker\'s build after the reload');
            const scope = new URL(site.base).href;
            expectEqual(await cacheNames(first), [`quenlor ${scope} ${second.build}`], 'the caches');
        } finally {
            await site.stop();
            fs.rmSync(second.folder, {recursive: true, force: true});
        }
    });

    test('offline 4: installable, with icons of 192 and 512 pixels and a maskable one', async ({browser}) => {
        const site = await serveSite();
        // Chromium installs nothing from an incognito context: the browser's own, normal one.
        const page = await browser.newPage();
        try {
            await page.setCookie({name: 'worker-hid', value: 'real', url: site.base});
            await page.goto(site.base);
            await workerReady(page);
            await page.reload();
            const cdp = await page.createCDPSession();
            expectEqual((await cdp.send('Page.getInstallabilityErrors')).installabilityErrors, [], 'installability errors');
            const manifest = await cdp.send('Page.getAppManifest');
            expectEqual(manifest.errors, [], 'manifest errors');
            const icons = [];
            for (const icon of JSON.parse(manifest.data).icons) {
                const bytes = Buffer.from(await (await fetch(new URL(icon.src, manifest.url))).arrayBuffer());
                const png = bytes.subarray(0, 8).toString('hex') === PNG_SIGNATURE;
                icons.push([icon.purpose, icon.sizes, png ? `${bytes.readUInt32BE(16)}x${bytes.readUInt32BE(20)}` : 'no PNG']);
            }
            expectEqual(icons, [['any', '192x192', '192x192'], ['any', '512x512', '512x512'],
                ['maskable', '512x512', '512x512']], 'the icons: purpose, declared size, size of the PNG');
        } finally {
            await page.close();
            await site.stop();
        }
    });
}

module.exports = {addOfflineCases};
