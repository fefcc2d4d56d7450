#pragma once

#include <optional>

// How the image view shows the picture: natural size, stretched to fill, proportionally
// stretched, tiled, or zoomed to a percentage of natural size. The profile stores it as one
// number (0 natural, 1 fill, 2 proportional, 3 tile, 9 and above a zoom percentage), which
// FromStored and Stored translate, so settings written by older versions still read.
// It lives beside the state the browser shares with the view, which holds it; only the
// view interprets it.
class DisplayMode {
public:
    enum class Kind { Natural, StretchToFill, Proportional, Tile, Zoom };

    // The smallest and largest zoom a stored value may hold; the zoom steps stay well within.
    static constexpr int kSmallestZoom = 9;
    static constexpr int kLargestZoom = 1000;

    constexpr DisplayMode() = default;
    static constexpr DisplayMode Natural() { return DisplayMode(Kind::Natural, 0); }
    static constexpr DisplayMode StretchToFill() { return DisplayMode(Kind::StretchToFill, 0); }
    static constexpr DisplayMode Proportional() { return DisplayMode(Kind::Proportional, 0); }
    static constexpr DisplayMode Tile() { return DisplayMode(Kind::Tile, 0); }
    // A zoom of percent, held within the smallest and largest zoom.
    static constexpr DisplayMode Zoom(int percent) {
        return DisplayMode(Kind::Zoom, percent < kSmallestZoom ? kSmallestZoom
                                       : percent > kLargestZoom ? kLargestZoom
                                                                : percent);
    }

    // The mode a stored number names; nothing for a number no mode has (4 to 8, negative,
    // beyond the largest zoom), which is damage.
    static constexpr std::optional<DisplayMode> FromStored(int value) {
        switch (value) {
        case 0: return Natural();
        case 1: return StretchToFill();
        case 2: return Proportional();
        case 3: return Tile();
        default:
            if (value >= kSmallestZoom && value <= kLargestZoom) return Zoom(value);
            return std::nullopt;
        }
    }
    constexpr int Stored() const {
        switch (kind_) {
        case Kind::Natural: return 0;
        case Kind::StretchToFill: return 1;
        case Kind::Proportional: return 2;
        case Kind::Tile: return 3;
        case Kind::Zoom: return percent_;
        }
        return 0;
    }

    constexpr Kind GetKind() const { return kind_; }
    constexpr bool IsZoom() const { return kind_ == Kind::Zoom; }
    // The zoom percentage; 100 at natural size, 0 in the stretch and tile modes.
    constexpr int ZoomPercent() const {
        return kind_ == Kind::Zoom ? percent_ : kind_ == Kind::Natural ? 100 : 0;
    }

    friend constexpr bool operator==(const DisplayMode&, const DisplayMode&) = default;

private:
    constexpr DisplayMode(Kind kind, int percent) : kind_(kind), percent_(percent) {}

    Kind kind_ = Kind::Natural;
    int percent_ = 0;
};
