// What the writers share behind their interface: realising the request's font before packing it.
#pragma once

#include "formats/FontWriter.h"
#include "render/GlyphRasteriser.h"

#include <string>
#include <utility>

namespace qf {

// Realises the request's font with the glyph rasteriser on dc, then packs it into out:
// pack(GlyphSource&, const WriteRequest&, OutputSink&) gives the writer's answer.
template <class Pack>
WriteProblem realiseAndPack(gdi::DeviceContext& dc, const WriteRequest& request, OutputSink& out, Pack&& pack)
{
    out.clear();
    GlyphRasteriser rasteriser(dc);
    if (const qf::Status realised =
            rasteriser.realise(request.font, request.pointSize, request.resolutionX, request.resolutionY);
        !realised)
        return Refusal(request)(realised.failure().reason());
    WriteProblem problem = std::forward<Pack>(pack)(rasteriser, request, out);
    if (!problem)
        if (const qf::Status same = rasteriser.checkFontFile(); !same) {
            out.clear();
            problem = Refusal(request)(same.failure().reason());
        }
    return problem;
}

}  // namespace qf
