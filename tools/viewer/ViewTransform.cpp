#include "ViewTransform.h"

#include <algorithm>
#include <cmath>

namespace lumora_viewer {

void ViewTransform::SetViewport(int width, int height) {
    viewW_ = std::max(width, 1);
    viewH_ = std::max(height, 1);
    Clamp();
}

void ViewTransform::SetImage(int width, int height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (width == imageW_ && height == imageH_) return;
    // The same share of the picture stays at the centre.
    centreX_ = centreX_ / imageW_ * width;
    centreY_ = centreY_ / imageH_ * height;
    imageW_ = width;
    imageH_ = height;
    Clamp();
}

double ViewTransform::Scale() const {
    if (!fitting_) return scale_;
    return std::min(static_cast<double>(viewW_) / imageW_, static_cast<double>(viewH_) / imageH_);
}

double ViewTransform::OriginX() const {
    if (fitting_) return (viewW_ - imageW_ * Scale()) / 2.0;
    return viewW_ / 2.0 - centreX_ * scale_;
}

double ViewTransform::OriginY() const {
    if (fitting_) return (viewH_ - imageH_ * Scale()) / 2.0;
    return viewH_ / 2.0 - centreY_ * scale_;
}

void ViewTransform::SetScale(double scale, double ax, double ay) {
    const double ix = ToImageX(ax);
    const double iy = ToImageY(ay);
    scale_ = std::clamp(scale, kMinScale, kMaxScale);
    fitting_ = false;
    // (ax, ay) = centre of the area + (image point - centre point) * scale.
    centreX_ = ix - (ax - viewW_ / 2.0) / scale_;
    centreY_ = iy - (ay - viewH_ / 2.0) / scale_;
    Clamp();
}

void ViewTransform::PanBy(double dx, double dy) {
    if (fitting_) return;
    centreX_ -= dx / scale_;
    centreY_ -= dy / scale_;
    Clamp();
}

PixelPoint ViewTransform::PixelAt(double ax, double ay) const {
    return {static_cast<int>(std::floor(ToImageX(ax))), static_cast<int>(std::floor(ToImageY(ay)))};
}

void ViewTransform::Clamp() {
    if (fitting_) return;
    // A picture smaller than the area is centred; a larger one cannot be pulled off the edge.
    const auto clampAxis = [this](double& centre, int image, int view) {
        const double halfView = view / 2.0 / scale_;
        if (image * scale_ <= view) {
            centre = image / 2.0;
        } else {
            centre = std::clamp(centre, halfView, image - halfView);
        }
    };
    clampAxis(centreX_, imageW_, viewW_);
    clampAxis(centreY_, imageH_, viewH_);
}

}  // namespace lumora_viewer
