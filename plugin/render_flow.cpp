// The render road on the main thread: every edit makes the region rendered before it stale at once, and
// a copy of the new revision goes to the render worker; its result is installed as the region anchored
// at the capture's host position.

#include "plugin/Corvalinth.h"

void Corvalinth::OnDocumentEdited() {
    if (session_.editCount() != requestedRenderRevision_)
        playbackGeneration_.fetch_add(1); // the track's own input is heard until the new render arrives
    if (cv::EditorControls* controls = Controls())
        controls->RedrawCanvas();
    if (!session_.inGesture()) {
        PublishDawStateSnapshot();
        InformHostOfStateChange();
    }
    PollRenderFlow();
}

void Corvalinth::PollRenderFlow() {}

void Corvalinth::CancelRender() {
    // The revision it was rendering is requested again on the next tick.
    requestedRenderRevision_ = completedRenderRevision_;
}

bool Corvalinth::RenderBusy() const {
    return false;
}
