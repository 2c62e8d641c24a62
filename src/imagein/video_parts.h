#pragma once
// What the video files share inside imagein: the video stream a read takes,
// the facts of an open input, the shown size, the container's doc type.

#include <cstdint>

extern "C" {
#include <libavutil/rational.h>
}

#include "imagein/video.h"

// Fills `facts` from the open input's container and its video stream `video_index`.
void FillVideoFacts(AVFormatContext* context, int video_index, TVideoFacts* facts);

// The shown size of a frame of coded size w x h: the pixel aspect applied to
// the width (the height kept), then turned by `rotation`. False when the size
// makes no sense.
bool VideoShownSize(int32_t coded_width, int32_t coded_height, AVRational aspect, int rotation, int32_t* width,
                    int32_t* height);

// Whether the open input is Matroska with the doc type "webm".
bool VideoInputWebm(AVFormatContext* context);
