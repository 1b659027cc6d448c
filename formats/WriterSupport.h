// What the writers share behind their interface: how a refusal names its font, and realising the
// request's font before packing it.
#pragma once

#include "formats/FontWriter.h"
#include "platform/CodePages.h"
#include "render/GlyphRasteriser.h"

#include <string>
#include <utility>

namespace qf {

// Refusals name the font they are about: "<name> at <size> points (<x> x <y> dpi): <why>", the
// name in UTF-8 (the request holds its cp1252 bytes); the name and the bare reason are fields of
// the problem's failure too, for those who report them their own way.
class Refusal {
public:
    explicit Refusal(const WriteRequest& request) : font_(gdi::ansiToUtf8(request.name)), prefix_(prefix(request)) {}
    WriteProblem operator()(const std::string& why) const
    {
        WriteProblem problem = WriteProblem::refused(prefix_ + why);
        problem.failure = {why, {}, font_, {}};
        return problem;
    }

    // What a refusal of the request begins with.
    static std::string prefix(const WriteRequest& request)
    {
        return gdi::ansiToUtf8(request.name) + " at " + std::to_string(request.pointSize) + " points (" +
               std::to_string(request.resolutionX) + " x " + std::to_string(request.resolutionY) + " dpi): ";
    }

private:
    std::string font_;
    std::string prefix_;
};

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
