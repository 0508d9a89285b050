// Runs inside the module: turns a C++ wide string (32-bit wchar_t) into a JavaScript string.
Module.wideText = (pointer) => {
    let text = '';
    for (let i = pointer >> 2; HEAP32[i] !== 0; ++i) text += String.fromCodePoint(HEAP32[i]);
    return text;
};
