// The page's own sentences, in English and German; everything the dialog would say comes from the
// catalogue in the core instead. German when navigator.language starts with "de".
'use strict';
const PAGE_TEXTS = {
    en: {
        title: 'TESSALUX ZEPHANT FW Updater',
        connect: 'Connect programming unit',
        update: 'Update',
        modelRow: 'ESC model',
        ok: 'OK', cancel: 'Cancel', yes: 'Yes', no: 'No',
        noWebHid: 'This browser cannot reach USB HID devices (WebHID). Use Chrome, Edge or Opera 89 or later on a desktop ' +
            'computer, or install the Windows program (quenlor-zephant-<model>.exe) or the command-line updater quenlor.',
        notSecure: 'The updater only works on a page served over https or from localhost; this page was opened otherwise. ' +
            'Serve it over https, or use the Windows program or the command-line updater quenlor.',
        accessRefused: 'The browser was refused access to the programming unit.',
        accessRefusedLinux: 'The browser was refused access to the programming unit. On Linux, install the udev rule ' +
            'below, then unplug the programming unit and plug it in again:',
        noModel: 'The attached ESC is none of the models this updater serves (ZEPHANT 60 LV, ZEPHANT 140 LV, ' +
            'ZEPHANT 90 LV). Please look for an updater for your ESC at https://www.tessalux.example/updates.',
        simulated: 'Simulated programming unit: nothing is sent to real hardware.',
        failed: 'The updater could not be started.',
        newVersion: 'A new version of this page is ready: it is used from the next time the page is loaded.',
    },
    de: {
        title: 'TESSALUX ZEPHANT FW Updater',
        connect: 'Programmiergerät verbinden',
        update: 'Update',
        modelRow: 'ESC-Modell',
        ok: 'OK', cancel: 'Abbrechen', yes: 'Ja', no: 'Nein',
        noWebHid: 'Dieser Browser kann keine USB-HID-Geräte erreichen (WebHID). Verwenden Sie Chrome, Edge oder Opera ab ' +
            'Version 89 auf einem Desktop-Computer, oder installieren Sie das Windows-Programm ' +
            '(quenlor-zephant-<Modell>.exe) oder das Kommandozeilenprogramm quenlor.',
        notSecure: 'Der Updater funktioniert nur auf einer Seite, die über https oder von localhost geladen wurde. ' +
            'Laden Sie sie über https, oder verwenden Sie das Windows-Programm oder das Kommandozeilenprogramm quenlor.',
        accessRefused: 'Der Browser erhielt keinen Zugriff auf das Programmiergerät.',
        accessRefusedLinux: 'Der Browser erhielt keinen Zugriff auf das Programmiergerät. Installieren Sie unter Linux ' +
            'die folgende udev-Regel, ziehen Sie dann das Programmiergerät ab und stecken Sie es wieder ein:',
        noModel: 'Der angeschlossene ESC ist keines der Modelle, die dieser Updater kennt (ZEPHANT 60 LV, ZEPHANT 140 LV, ' +
            'ZEPHANT 90 LV). Einen Updater für Ihren ESC finden Sie unter https://www.tessalux.example/updates.',
        simulated: 'Simuliertes Programmiergerät: es wird nichts an echte Hardware gesendet.',
        failed: 'Der Updater konnte nicht gestartet werden.',
        newVersion: 'Eine neue Version dieser Seite ist bereit: sie wird ab dem nächsten Laden der Seite verwendet.',
    },
};
