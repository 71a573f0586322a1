// Geometry over pixel buffers (rows of 32-bit pixels, width x 4 bytes a
// row, as bitmap.h): 2D vectors, a point-in-quadrilateral test, a rectangle
// copy, a warp of a whole buffer into a quadrilateral with bilinear
// sampling, a resize built on the warp, and packed YUV 4:2:2 to pixels.
//
// Corner lists are four points as 32-bit floats x0, y0 .. x3, y3: top-left,
// top-right, bottom-right, bottom-left when unmirrored (y grows downward).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vyr::image_backend {

struct Vec {
    double x = 0, y = 0;
};
using Corners = std::array<float, 8>;

double vector_length(const Vec& v);
void vector_normalize(Vec& v);
Vec vector_between(double ax, double ay, double bx, double by);  // b - a
double vector_cross(const Vec& a, const Vec& b);
double vector_dot(const Vec& a, const Vec& b);
// Turns v by whole degrees.
void vector_rotate(Vec& v, int32_t degrees);
// Whether P lies left (right) of the line from C to E: cross(P - C, E - C)
// below (above) 0.
bool point_left_of(double px, double py, double cx, double cy, double ex, double ey);
bool point_right_of(double px, double py, double cx, double cy, double ex, double ey);
// The distance of P from the line through C and E.
double point_edge_distance(double px, double py, double cx, double cy, double ex, double ey);
// Mirrors the four x (y) coordinates about c.
void corners_mirror_x(Corners& corners, float c);
void corners_mirror_y(Corners& corners, float c);
// True unless P is right of one of the edges 0-1, 1-2, 2-3, 3-0.
bool point_in_quad(const Corners& corners, double px, double py);

// Copies the rectangle (x, y, w, h), cut to the source, packed into `out`
// (w x 4 bytes a row); false, copying nothing, when (x, y) is outside.
bool pixels_copy_rect(const uint32_t* source, int32_t width, int32_t height, int32_t x, int32_t y, int32_t w,
                      int32_t h, std::vector<uint32_t>& out);

// Where a warp's output goes: its box, from the corners' extremes.
struct Box {
    int32_t x = 0, y = 0, w = 0, h = 0;
};
// Warps the whole source into the quadrilateral: a new buffer of the box's
// size, pixels outside the quadrilateral 0 (transparent black). Nothing for
// an empty source, a degenerate quadrilateral (an edge of no length, corners
// not finite) or a box too large for an image.
std::optional<std::vector<uint32_t>> image_warp(const uint32_t* source, int32_t width, int32_t height,
                                                const Corners& corners, Box& box);
// The source scaled to new width x new height through the warp; nothing when
// the warp's box is not exactly that size.
std::optional<std::vector<uint32_t>> pixels_resize(const uint32_t* source, int32_t width, int32_t height,
                                                   int32_t new_width, int32_t new_height);
// Packed YUV 4:2:2 (Y0 U Y1 V for each two pixels) to opaque pixels. A
// source row is (width + 1) / 2 groups of 4 bytes; an odd last pixel takes
// its group's Y0 and writes only itself, so nothing lands past a row.
// `source_size` bounds the reading: rows it does not hold are left as they
// are. Destination: width x rows pixels.
void yuv422_to_pixels(int32_t width, int32_t rows, const uint8_t* source, size_t source_size, uint32_t* destination);

}  // namespace vyr::image_backend
