#pragma once

// EditorViewportState: the note canvas's view (zoom and scroll), saved by the plug-in when the editor
// closes and restored when it opens again for the same session. The canvas owns the live values and the
// rules they obey; the plug-in only keeps a copy.

struct EditorViewportState {
    double framesPerPixel = 256.0; // document frames per horizontal pixel
    double viewStartFrame = 0.0;   // document frame at the canvas's left edge
    double topMidi = 84.0;         // MIDI pitch at the canvas's top edge
    float pxPerSemitone = 14.f;    // row height in pixels
};
