#include "ui/ivory/icons.h"

#include <array>

namespace ivory {
namespace {

struct IconEntry {
    const char* resourceName;
    const std::string_view* svg;
};

// Indexed by EPhosphorIcon.
const std::array<IconEntry, kNumIcons>& Table() {
    static const std::array<IconEntry, kNumIcons> table{{
        {"phosphor-split-bold-2.1.1", &kPhSplit},
        {"phosphor-merge-bold-2.1.1", &kPhMerge},
        {"phosphor-unison-bold-2.1.1", &kPhUnison},
        {"phosphor-undo-bold-2.1.1", &kPhUndo},
        {"phosphor-redo-bold-2.1.1", &kPhRedo},
        {"phosphor-help-bold-2.1.1", &kPhHelp},
        {"phosphor-settings-bold-2.1.1", &kPhSettings},
        {"phosphor-skip-back-bold-2.1.1", &kPhSkipBack},
        {"phosphor-play-bold-2.1.1", &kPhPlay},
        {"phosphor-stop-bold-2.1.1", &kPhStop},
        {"phosphor-zoom-out-bold-2.1.1", &kPhZoomOut},
        {"phosphor-zoom-in-bold-2.1.1", &kPhZoomIn},
        {"phosphor-fit-bold-2.1.1", &kPhFit},
    }};
    return table;
}

const IconEntry& Entry(EPhosphorIcon icon) {
    return Table()[static_cast<std::size_t>(IconOrHelp(static_cast<int>(icon)))];
}

} // namespace

EPhosphorIcon IconOrHelp(int value) {
    return value >= 0 && value < kNumIcons ? static_cast<EPhosphorIcon>(value) : EPhosphorIcon::Help;
}

const char* IconResourceName(EPhosphorIcon icon) {
    return Entry(icon).resourceName;
}

std::string_view IconSvg(EPhosphorIcon icon) {
    return *Entry(icon).svg;
}

iplug::igraphics::ISVG LoadIcon(iplug::igraphics::IGraphics& g, EPhosphorIcon icon) {
    const IconEntry& e = Entry(icon);
    return g.LoadSVG(e.resourceName, e.svg->data(), e.svg->size(), "px", 72.f);
}

void DrawIcon(iplug::igraphics::IGraphics& g, EPhosphorIcon icon, const iplug::igraphics::IRECT& r,
              float size, const iplug::igraphics::IColor& tint) {
    g.DrawSVG(LoadIcon(g, icon), r.GetCentredInside(size), nullptr, &tint);
}

} // namespace ivory
