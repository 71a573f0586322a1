// Geometry over pixel buffers (see geometry.h).
#include "datatypes/image-backend/geometry.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "datatypes/image-backend/bitmap.h"

namespace vyr::image_backend {

namespace {
constexpr double pi = 3.14159265359;

float x_at(const Corners& c, int i) { return c[size_t(i) * 2]; }
float y_at(const Corners& c, int i) { return c[size_t(i) * 2 + 1]; }

// The edge from corner i to the next, as a unit vector.
Vec edge_unit(const Corners& c, int i) {
    int j = (i + 1) % 4;
    Vec e = vector_between(x_at(c, i), y_at(c, i), x_at(c, j), y_at(c, j));
    vector_normalize(e);
    return e;
}

uint8_t byte_of(uint32_t p, int k) { return uint8_t(p >> (8 * k)); }
}  // namespace

double vector_length(const Vec& v) { return std::sqrt(v.x * v.x + v.y * v.y); }

void vector_normalize(Vec& v) {
    double len = vector_length(v);
    v.x /= len;
    v.y /= len;
}

Vec vector_between(double ax, double ay, double bx, double by) { return Vec{bx - ax, by - ay}; }
double vector_cross(const Vec& a, const Vec& b) { return a.x * b.y - a.y * b.x; }
double vector_dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y; }

void vector_rotate(Vec& v, int32_t degrees) {
    double a = degrees * pi / 180.0;
    v = Vec{v.x * std::cos(a) - v.y * std::sin(a), v.x * std::sin(a) + v.y * std::cos(a)};
}

bool point_left_of(double px, double py, double cx, double cy, double ex, double ey) {
    return vector_cross(Vec{px - cx, py - cy}, Vec{ex - cx, ey - cy}) < 0.0;
}

bool point_right_of(double px, double py, double cx, double cy, double ex, double ey) {
    return vector_cross(Vec{px - cx, py - cy}, Vec{ex - cx, ey - cy}) > 0.0;
}

double point_edge_distance(double px, double py, double cx, double cy, double ex, double ey) {
    Vec e{ex - cx, ey - cy};
    vector_normalize(e);
    return std::fabs(vector_cross(Vec{px - cx, py - cy}, e));
}

void corners_mirror_x(Corners& corners, float c) {
    for (int i = 0; i < 4; ++i) corners[size_t(i) * 2] = 2.0f * c - corners[size_t(i) * 2];
}

void corners_mirror_y(Corners& corners, float c) {
    for (int i = 0; i < 4; ++i) corners[size_t(i) * 2 + 1] = 2.0f * c - corners[size_t(i) * 2 + 1];
}

bool point_in_quad(const Corners& c, double px, double py) {
    for (int i = 0; i < 4; ++i) {
        int j = (i + 1) % 4;
        if (point_right_of(px, py, x_at(c, i), y_at(c, i), x_at(c, j), y_at(c, j))) return false;
    }
    return true;
}

bool pixels_copy_rect(const uint32_t* source, int32_t width, int32_t height, int32_t x, int32_t y, int32_t w,
                      int32_t h, std::vector<uint32_t>& out) {
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    w = std::max(0, std::min(w, width - x));
    h = std::max(0, std::min(h, height - y));
    out.resize(size_t(w) * size_t(h));
    for (int32_t r = 0; r < h; ++r)
        std::copy_n(source + size_t(y + r) * size_t(width) + size_t(x), w, out.data() + size_t(r) * size_t(w));
    return true;
}

std::optional<std::vector<uint32_t>> image_warp(const uint32_t* source, int32_t width, int32_t height,
                                                const Corners& c, Box& box) {
    if (width < 1 || height < 1) return std::nullopt;
    float min_x = FLT_MAX, min_y = FLT_MAX, max_x = -FLT_MAX, max_y = -FLT_MAX;
    for (int i = 0; i < 4; ++i) {
        if (!std::isfinite(x_at(c, i)) || !std::isfinite(y_at(c, i))) return std::nullopt;
        min_x = std::min(min_x, x_at(c, i));
        max_x = std::max(max_x, x_at(c, i));
        min_y = std::min(min_y, y_at(c, i));
        max_y = std::max(max_y, y_at(c, i));
    }
    // A box no image can hold, or an edge of no length (whose direction the
    // distances below need), gives no output.
    double w = std::trunc(double(max_x) - double(min_x)), h = std::trunc(double(max_y) - double(min_y));
    if (!size_fits(int64_t(std::min(w, 1e6)), int64_t(std::min(h, 1e6))) || std::fabs(min_x) > 1e9 ||
        std::fabs(min_y) > 1e9)
        return std::nullopt;
    Vec e[4];
    for (int i = 0; i < 4; ++i) {
        e[i] = edge_unit(c, i);
        if (!std::isfinite(e[i].x) || !std::isfinite(e[i].y)) return std::nullopt;
    }
    box = Box{int32_t(std::trunc(min_x)), int32_t(std::trunc(min_y)), int32_t(w), int32_t(h)};
    std::vector<uint32_t> out(size_t(box.w) * size_t(box.h), 0);
    for (int32_t r = 0; r < box.h; ++r) {
        for (int32_t col = 0; col < box.w; ++col) {
            double px = double(col) + box.x, py = double(r) + box.y;
            if (!point_in_quad(c, px, py)) continue;
            double d[4];
            for (int i = 0; i < 4; ++i)
                d[i] = std::fabs(vector_cross(Vec{px - x_at(c, i), py - y_at(c, i)}, e[i]));
            // On a corner where two opposite edges meet (a folded quad) there
            // is no position to sample.
            if (d[3] + d[1] == 0.0 || d[0] + d[2] == 0.0) continue;
            float u = float(d[3] / (d[3] + d[1]) * width), v = float(d[0] / (d[0] + d[2]) * height);
            if (!(u >= 0.0f && u < float(width)) || !(v >= 0.0f && v < float(height))) continue;
            int32_t iu = int32_t(u), iv = int32_t(v);
            int32_t iu1 = iu + 1 == width ? iu : iu + 1, iv1 = iv + 1 == height ? iv : iv + 1;
            float fu = std::max(0.0f, u - float(iu)), fv = std::max(0.0f, v - float(iv));
            uint32_t s00 = source[size_t(iv) * size_t(width) + size_t(iu)];
            uint32_t s10 = source[size_t(iv) * size_t(width) + size_t(iu1)];
            uint32_t s01 = source[size_t(iv1) * size_t(width) + size_t(iu)];
            uint32_t s11 = source[size_t(iv1) * size_t(width) + size_t(iu1)];
            uint32_t p = 0;
            // The bilinear blend as two steps of interpolation: the same
            // weights, but a uniform neighbourhood gives its value exactly.
            for (int k = 0; k < 4; ++k) {
                float top = byte_of(s00, k) + fu * float(byte_of(s10, k) - byte_of(s00, k));
                float bottom = byte_of(s01, k) + fu * float(byte_of(s11, k) - byte_of(s01, k));
                float b = top + fv * (bottom - top);
                p |= uint32_t(std::clamp(int32_t(b), 0, 255)) << (8 * k);
            }
            out[size_t(r) * size_t(box.w) + size_t(col)] = p;
        }
    }
    return out;
}

std::optional<std::vector<uint32_t>> pixels_resize(const uint32_t* source, int32_t width, int32_t height,
                                                   int32_t new_width, int32_t new_height) {
    float nw = float(new_width), nh = float(new_height);
    Corners c{0, 0, nw, 0, nw, nh, 0, nh};
    Box box;
    auto out = image_warp(source, width, height, c, box);
    if (!out || box.w != new_width || box.h != new_height) return std::nullopt;
    return out;
}

void yuv422_to_pixels(int32_t width, int32_t rows, const uint8_t* source, size_t source_size, uint32_t* destination) {
    if (width < 1 || rows < 1) return;
    size_t row_bytes = size_t(width + 1) / 2 * 4;
    auto clamp = [](int32_t x) { return uint32_t(std::clamp(x, 0, 255)); };
    auto pixel = [&](int32_t y, int32_t u, int32_t v) {
        uint32_t r = clamp(y + ((v * 91881) >> 16));
        uint32_t g = clamp(y - ((v * 46792) >> 16) - ((u * 21889) >> 16));
        uint32_t b = clamp(y + ((u * 116129) >> 16));
        return pixel_of(r, g, b, 255);
    };
    for (int32_t row = 0; row < rows && size_t(row + 1) * row_bytes <= source_size; ++row) {
        const uint8_t* in = source + size_t(row) * row_bytes;
        uint32_t* out = destination + size_t(row) * size_t(width);
        for (int32_t x = 0; x < width; x += 2, in += 4) {
            int32_t u = int32_t(in[1]) - 128, v = int32_t(in[3]) - 128;
            out[x] = pixel(in[0], u, v);
            if (x + 1 < width) out[x + 1] = pixel(in[2], u, v);
        }
    }
}

}  // namespace vyr::image_backend
