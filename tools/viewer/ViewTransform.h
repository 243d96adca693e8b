// Where the picture sits in the picture area: scaled to fit, or at a chosen scale (1:1, zoomed
// in or out) with the user's pan, and the mapping between area and image coordinates.
#pragma once

#include "LineProfile.h"

namespace lumora_viewer {

class ViewTransform {
public:
    static constexpr double kMinScale = 1.0 / 32;
    static constexpr double kMaxScale = 32.0;

    void SetViewport(int width, int height);
    // A new picture size keeps the scale and the image point at the centre where it can.
    void SetImage(int width, int height);
    void Fit() { fitting_ = true; }
    // The scale (1.0 is 1:1), keeping the image point under the area point (ax, ay) in place.
    void SetScale(double scale, double ax, double ay);
    void ZoomBy(double factor, double ax, double ay) { SetScale(Scale() * factor, ax, ay); }
    // Moves the picture by (dx, dy) area pixels.
    void PanBy(double dx, double dy);

    bool Fitting() const { return fitting_; }
    double Scale() const;
    // The area position of the image's top-left corner.
    double OriginX() const;
    double OriginY() const;
    int ViewportWidth() const { return viewW_; }
    int ViewportHeight() const { return viewH_; }
    int ImageWidth() const { return imageW_; }
    int ImageHeight() const { return imageH_; }

    double ToImageX(double ax) const { return (ax - OriginX()) / Scale(); }
    double ToImageY(double ay) const { return (ay - OriginY()) / Scale(); }
    double ToAreaX(double ix) const { return OriginX() + ix * Scale(); }
    double ToAreaY(double iy) const { return OriginY() + iy * Scale(); }
    // The image pixel under an area point (it may lie outside the image).
    PixelPoint PixelAt(double ax, double ay) const;

private:
    void Clamp();

    int viewW_ = 1;
    int viewH_ = 1;
    int imageW_ = 1;
    int imageH_ = 1;
    bool fitting_ = true;
    double scale_ = 1.0;
    double centreX_ = 0.5;  // the image point at the area's centre (when not fitting)
    double centreY_ = 0.5;
};

}  // namespace lumora_viewer
