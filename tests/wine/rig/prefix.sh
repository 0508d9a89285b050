# The Wine rig's surroundings, for the scripts that run the shipping programs under Wine. Source
# this file, then:
#
#   rig_setup NAME            everything below in order: a fresh private prefix named NAME under
#                             build/wine-rig/prefixes/, its own Xvfb, the German locale and our HID
#                             stack; cleans up on every exit (see rig_cleanup)
#   rig_run LANG EXE [ARG…]   runs a Windows program in that prefix with that LANG
#   rig_screenshot FILE       a PNG of the whole Xvfb screen
#
# or the single steps: rig_start_display, rig_make_prefix (with rig_install_fonts), rig_make_locale,
# rig_install_hid_stack.
#
# Costs measured here (2 shared cores): a new prefix 9 to 14 s (wineboot), the display under 1 s,
# the German locale 2 s the first time only; then the wineserver stays warm, a program starts in
# about 0.2 s and the shipping program has identified a simulated unit 0.25 s after its start.
#
# The scripts keep running under `set -euo pipefail`; every function returns non-zero on failure.

RIG_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
RIG_BUILD_DIR=$RIG_ROOT/build/wine-rig
RIG_DLL_DIR=$RIG_BUILD_DIR/rig            # hid.dll, setupapi.dll and the rig's own programs
RIG_LOCALE_DIR=$RIG_BUILD_DIR/locale      # compiled locales, kept between runs
RIG_GERMAN=de_DE.UTF-8
RIG_SCREEN=1024x768x24
RIG_WINE_FONTS_DIR=/usr/share/wine/fonts  # Wine's own fonts (Debian package fonts-wine)
# The programs that get our HID stack; every other program in the prefix keeps Wine's.
RIG_HID_PROGRAMS=(quenlor-zephant-60-lv.exe quenlor-zephant-140-lv.exe quenlor-zephant-90-lv.exe quenlor.exe rig_selftest.exe
                  update_bench.exe)

RIG_XVFB_PID=""

rig_log() { echo "rig: $*" >&2; }

# Kills what the rig started: every process of the prefix with its wineserver, and the Xvfb.
# rig_setup installs it as the EXIT trap; a script with its own EXIT trap must call it from there.
rig_cleanup() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    fi
    if [ -n "$RIG_XVFB_PID" ]; then
        kill "$RIG_XVFB_PID" 2>/dev/null || true
        wait "$RIG_XVFB_PID" 2>/dev/null || true
        RIG_XVFB_PID=""
    fi
}

# Our own X server on a display that nobody uses; Xvfb picks the number itself (-displayfd).
rig_start_display() {
    local numberFile
    numberFile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "$RIG_SCREEN" -nolisten tcp 3>"$numberFile" \
        >/dev/null 2>&1 &
    RIG_XVFB_PID=$!
    local tries=0
    while ! grep -q '[0-9]' "$numberFile" 2>/dev/null; do
        if ! kill -0 "$RIG_XVFB_PID" 2>/dev/null || [ $((tries += 1)) -gt 100 ]; then
            rm -f "$numberFile"
            rig_log "Xvfb did not start"
            return 1
        fi
        sleep 0.05
    done
    export DISPLAY=":$(tr -dc '0-9' <"$numberFile")"
    rm -f "$numberFile"
}

# A fresh prefix with a persistent wineserver, quiet, and without the crash debugger, so that a
# crashing program ends with exit code 1 instead of hanging the run.
rig_make_prefix() {
    local name=$1
    export WINEPREFIX=$RIG_BUILD_DIR/prefixes/$name
    export WINEDEBUG=-all
    export WINEARCH=win64
    # No menu entries or file associations in the user's desktop for the prefix's programs.
    export WINEDLLOVERRIDES="winemenubuilder.exe=d"
    # A run that was killed may have left the prefix's wineserver and programs behind.
    [ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null || true; }
    case "$WINEPREFIX" in "$RIG_BUILD_DIR"/prefixes/?*) rm -rf "$WINEPREFIX" ;; esac
    mkdir -p "$WINEPREFIX"
    # The first Wine process decides whether the server stays up between programs.
    wineserver -p
    # No installer for .NET or the HTML engine: nothing here needs them, and they would ask.
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mscoree,mshtml=" LANG=C.UTF-8 wine wineboot --init >/dev/null 2>&1
    local registry=$WINEPREFIX/drive_c/rig.reg
    {
        echo 'REGEDIT4'
        echo
        echo '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]'
        echo '"Debugger"=""'
        # With "Auto"="0" a crashing program waits for an answer to a question nobody sees.
        echo '"Auto"="1"'
        # Xvfb has no window manager: Wine then draws the title bars itself instead of waiting
        # 2 s for one whenever a window closes.
        echo
        echo '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]'
        echo '"Managed"="N"'
        local program
        for program in "${RIG_HID_PROGRAMS[@]}"; do
            echo
            echo "[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\$program\\DllOverrides]"
            echo '"hid"="native,builtin"'
            echo '"setupapi"="native,builtin"'
        done
    } >"$registry"
    LANG=C.UTF-8 wine regedit /S 'C:\rig.reg' >/dev/null 2>&1
    rig_install_fonts
}

# Wine's own fonts into the prefix's font folder. This Wine does not look for them where the
# package puts them, and without them the dialog font is a stand-in and the caption's close box,
# drawn with a character of the Marlett font, shows an "r". Each program reads the folder when it
# starts, so copying after the prefix was made is enough.
rig_install_fonts() {
    local fonts=$WINEPREFIX/drive_c/windows/Fonts
    [ -f "$RIG_WINE_FONTS_DIR/marlett.ttf" ] || { rig_log "$RIG_WINE_FONTS_DIR has no Wine fonts: install fonts-wine"; return 1; }
    mkdir -p "$fonts"
    cp "$RIG_WINE_FONTS_DIR"/*.ttf "$RIG_WINE_FONTS_DIR"/*.fon "$fonts/"
}

# The German locale, compiled into the build folder once; the system's locales stay untouched.
# rig_run uses it for LANG=de_DE.UTF-8.
rig_make_locale() {
    [ -d "$RIG_LOCALE_DIR/$RIG_GERMAN" ] && return 0
    mkdir -p "$RIG_LOCALE_DIR"
    # localedef warns about details of the source data and still writes the locale.
    localedef -i de_DE -f UTF-8 "$RIG_LOCALE_DIR/$RIG_GERMAN" >/dev/null 2>&1 || true
    [ -d "$RIG_LOCALE_DIR/$RIG_GERMAN" ] || { rig_log "cannot compile the German locale"; return 1; }
}

# Our hid.dll and setupapi.dll into the prefix's system folder, where the programs load them from.
rig_install_hid_stack() {
    local system32=$WINEPREFIX/drive_c/windows/system32 dll
    for dll in hid.dll setupapi.dll; do
        [ -f "$RIG_DLL_DIR/$dll" ] || { rig_log "$RIG_DLL_DIR/$dll is missing: build the wine-rig preset"; return 1; }
        rm -f "$system32/$dll"
        cp "$RIG_DLL_DIR/$dll" "$system32/$dll"
    done
}

rig_setup() {
    local name=${1:-tests} started
    started=$(date +%s%N)
    trap rig_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    rig_start_display
    rig_make_prefix "$name"
    rig_make_locale
    rig_install_hid_stack
    rig_log "prefix $name ready on display $DISPLAY in $(( ($(date +%s%N) - started) / 1000000 )) ms"
}

# Runs a Windows program in the prefix with the given LANG (en_US.UTF-8, de_DE.UTF-8, C …) and
# returns its exit code. The locale variables that would override LANG are removed.
rig_run() {
    local lang=$1
    shift
    local environment=(-u LC_ALL -u LC_MESSAGES -u LC_CTYPE -u LANGUAGE -u LOCPATH "LANG=$lang")
    [ -d "$RIG_LOCALE_DIR/$lang" ] && environment+=("LOCPATH=$RIG_LOCALE_DIR")
    env "${environment[@]}" wine "$@"
}

rig_screenshot() {
    import -display "$DISPLAY" -window root "$1"
}
