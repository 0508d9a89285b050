// The page's own sentences, in English and German; everything the dialog would say comes from the
// catalogue in the core instead. German when navigator.language starts with "de". The model names
// come from page_constants.js, made from the model table.
'use strict';
const PAGE_TEXTS = {
    en: {
        title: 'TESSALUX ZEPHANT FW Updater',
        connect: 'Connect programming unit',
        update: 'Update',
        modelRow: 'ESC model',
        ok: 'OK', cancel: 'Cancel', yes: 'Yes', no: 'No',
        noWebHid: 'This browser cannot reach USB HID devices (WebHID) from where the updater runs. Use Chrome or Edge 131 ' +
            'or later on a desktop computer, or install the Windows program (quenlor-zephant-<model>.exe) or the ' +
            'command-line updater quenlor.',
        notSecure: 'The updater only works on a page served over https or from localhost; this page was opened otherwise. ' +
            'Serve it over https, or use the Windows program or the command-line updater quenlor.',
        accessRefused: 'The browser was refused access to the programming unit.',
        accessRefusedLinux: 'The browser was refused access to the programming unit. On Linux, install the udev rule ' +
            'below, then unplug the programming unit and plug it in again:',
        noModel: `The attached ESC is none of the models this updater serves (${MODEL_NAMES.join(', ')}). ` +
            'Please look for an updater for your ESC at https://www.tessalux.example/updates.',
        simulated: 'Simulated programming unit: nothing is sent to real hardware.',
        failed: 'The updater could not be started.',
        parts: 'A part of the page (worker.js, quenlor.js or quenlor.wasm) could not be loaded. Serve the whole folder ' +
            'dist/web/ and load the page again.',
        fromFile: 'A page opened from a file cannot start its worker. Serve the folder dist/web/ over https or from ' +
            'localhost and open it there.',
        framed: 'The updater does not run inside a page of another site. Open it in a tab of its own.',
        unitInUse: 'The programming unit is in use in another tab or window of this page. Finish or close the page ' +
            'there; this page takes the unit up as soon as it is free.',
        severalUnits: 'More than one programming unit is connected, and the page cannot tell which one you chose. ' +
            'Unplug all but the one to update, or let the browser forget the others:',
        forget: 'Forget {unit}',
        replugged: 'If the programming unit is not taken up again when you plug it back in, click Connect programming unit.',
        standIn: 'This page was built with stand-in firmware images, not the maker\'s. It updates only the simulated ' +
            'programming unit of the addresses with ?sim=; a real ESC needs a page built with the maker\'s images.',
        progressName: 'Firmware transfer',
        progressLine: '{percent} %  {left} left',
        reportsTooLong: 'The programming unit\'s reports are longer than the update can use (output {outputBytes} bytes, ' +
            'input {inputBytes} bytes; the update needs {outputMin} to {maxBytes} bytes out and {inputMin} to ' +
            '{maxBytes} bytes in). Nothing was sent to it; this unit cannot update the ESC.',
        reportsWithoutIds: 'The programming unit numbers none of its reports, but the update sends its requests as ' +
            'report {requestId} and reads the replies from report {replyId}. Nothing was sent to it; this unit cannot ' +
            'update the ESC.',
        reportsNoUnitCollection: 'The programming unit has no vendor collection (usage page {usagePage}) with report ' +
            '{requestId} or {replyId}, which carry the update. Nothing was sent to it; this unit cannot update the ESC.',
        reportsUnreadable: 'The description of the programming unit\'s reports could not be read or is malformed. ' +
            'Nothing was sent to it; unplug the unit, plug it in again and try again.',
        newVersion: 'A new version of this page is ready: it is used from the next time the page is loaded.',
    },
    de: {
        title: 'TESSALUX ZEPHANT FW Updater',
        connect: 'Programmiergerät verbinden',
        update: 'Update',
        modelRow: 'ESC-Modell',
        ok: 'OK', cancel: 'Abbrechen', yes: 'Ja', no: 'Nein',
        noWebHid: 'Dieser Browser kann USB-HID-Geräte (WebHID) dort nicht erreichen, wo der Updater läuft. Verwenden Sie ' +
            'Chrome oder Edge ab Version 131 auf einem Desktop-Computer, oder installieren Sie das Windows-Programm ' +
            '(quenlor-zephant-<Modell>.exe) oder das Kommandozeilenprogramm quenlor.',
        notSecure: 'Der Updater funktioniert nur auf einer Seite, die über https oder von localhost geladen wurde. ' +
            'Laden Sie sie über https, oder verwenden Sie das Windows-Programm oder das Kommandozeilenprogramm quenlor.',
        accessRefused: 'Der Browser erhielt keinen Zugriff auf das Programmiergerät.',
        accessRefusedLinux: 'Der Browser erhielt keinen Zugriff auf das Programmiergerät. Installieren Sie unter Linux ' +
            'die folgende udev-Regel, ziehen Sie dann das Programmiergerät ab und stecken Sie es wieder ein:',
        noModel: `Der angeschlossene ESC ist keines der Modelle, die dieser Updater kennt (${MODEL_NAMES.join(', ')}). ` +
            'Einen Updater für Ihren ESC finden Sie unter https://www.tessalux.example/updates.',
        simulated: 'Simuliertes Programmiergerät: es wird nichts an echte Hardware gesendet.',
        failed: 'Der Updater konnte nicht gestartet werden.',
        parts: 'Ein Teil der Seite (worker.js, quenlor.js oder quenlor.wasm) konnte nicht geladen werden. Stellen Sie den ' +
            'ganzen Ordner dist/web/ bereit und laden Sie die Seite erneut.',
        fromFile: 'Eine aus einer Datei geöffnete Seite kann ihren Worker nicht starten. Stellen Sie den Ordner dist/web/ ' +
            'über https oder von localhost bereit und öffnen Sie ihn dort.',
        framed: 'Der Updater läuft nicht innerhalb der Seite einer anderen Website. Öffnen Sie ihn in einem eigenen Tab.',
        unitInUse: 'Das Programmiergerät wird in einem anderen Tab oder Fenster dieser Seite verwendet. Beenden oder ' +
            'schließen Sie die Seite dort; diese Seite übernimmt das Gerät, sobald es frei ist.',
        severalUnits: 'Es ist mehr als ein Programmiergerät angeschlossen, und die Seite kann nicht erkennen, welches ' +
            'Sie gewählt haben. Ziehen Sie alle bis auf das zu aktualisierende ab, oder lassen Sie den Browser die ' +
            'anderen vergessen:',
        forget: '{unit} vergessen',
        replugged: 'Wird das Programmiergerät nach dem erneuten Einstecken nicht wieder übernommen, klicken Sie auf ' +
            'Programmiergerät verbinden.',
        standIn: 'Diese Seite wurde mit Platzhalter-Firmware-Images gebaut, nicht mit denen des Herstellers. Sie ' +
            'aktualisiert nur das simulierte Programmiergerät der Adressen mit ?sim=; für einen echten ESC braucht es ' +
            'eine Seite mit den Images des Herstellers.',
        progressName: 'Firmware-Übertragung',
        progressLine: '{percent} %  noch {left}',
        reportsTooLong: 'Die HID-Reports des Programmiergeräts sind länger, als das Update sie verwenden kann (Ausgabe ' +
            '{outputBytes} Bytes, Eingabe {inputBytes} Bytes; das Update braucht {outputMin} bis {maxBytes} Bytes ' +
            'hinaus und {inputMin} bis {maxBytes} Bytes herein). Es wurde nichts an das Gerät gesendet; mit diesem ' +
            'Programmiergerät lässt sich der ESC nicht aktualisieren.',
        reportsWithoutIds: 'Das Programmiergerät nummeriert keinen seiner HID-Reports, das Update sendet seine Anfragen ' +
            'aber als Report {requestId} und liest die Antworten aus Report {replyId}. Es wurde nichts an das Gerät ' +
            'gesendet; mit diesem Programmiergerät lässt sich der ESC nicht aktualisieren.',
        reportsNoUnitCollection: 'Das Programmiergerät hat keine Herstellersammlung (Usage Page {usagePage}) mit Report ' +
            '{requestId} oder {replyId}, über die das Update läuft. Es wurde nichts an das Gerät gesendet; mit diesem ' +
            'Programmiergerät lässt sich der ESC nicht aktualisieren.',
        reportsUnreadable: 'Die Beschreibung der HID-Reports des Programmiergeräts ließ sich nicht lesen oder ist ' +
            'fehlerhaft. Es wurde nichts an das Gerät gesendet; ziehen Sie das Programmiergerät ab, stecken Sie es ' +
            'wieder ein und versuchen Sie es erneut.',
        newVersion: 'Eine neue Version dieser Seite ist bereit: sie wird ab dem nächsten Laden der Seite verwendet.',
    },
};

// A sentence with {name} filled in from values.
function fillText(text, values) { return text.replace(/\{(\w+)\}/g, (all, name) => String(values[name])); }
