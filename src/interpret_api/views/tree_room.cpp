// Room for the boxes of a tree drawing: no two cover each other, and all stay inside the figure.
//
// plot_tree draws at a fixed font, and the slots of a level are as wide as the figure allows, not
// as wide as the texts in them: long display names, long thresholds and full deep levels make
// boxes wider than their slots. The rows are measured as drawn, the font shrinks where a row cannot
// hold its boxes, the figure grows where even the smallest font cannot, and the boxes of each row
// then move apart as little as they must.
#include "views/tree_boxes.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace vexo {

namespace {

constexpr double kMinFont = 7.0;   // the smallest font the boxes get, in points
constexpr double kGapPoints = 6.0; // the least gap between two boxes of a row, in points
constexpr double kRowGapPoints = 2.0; // between the boxes of two rows, in points
constexpr int kRounds = 4;         // of growing the figure, each followed by a layout

// The drawn boxes as the figure now draws them, in the units of their coordinates: centres,
// widths and heights indexed by node id (0 for nodes not drawn), the extent of the figure across
// and of the axes up and down, and the gaps.
struct Measure {
    std::vector<double> x, y, w, h;
    double lo = 0, hi = 1, height = 1, gap_x = 0, gap_y = 0;
    double width() const { return hi - lo; }
};

Measure measure(py::handle ax, const Drawing& drawing, const std::vector<NodeId>& drawn, bool in_points) {
    py::object figure = ax.attr("figure"_n);
    const double dpi = number(figure.attr("dpi"_n));
    py::object bbox = call({method(ax, "get_window_extent")});
    const double ax_w = number(bbox.attr("width"_n));
    const double ax_h = number(bbox.attr("height"_n));
    // a pixel in the boxes' units: a point's share of a pixel, or the axes' share
    const double per_x = in_points ? 72.0 / dpi : 1.0 / ax_w;
    const double per_y = in_points ? 72.0 / dpi : 1.0 / ax_h;
    Measure m;
    const std::size_t n = drawing.boxes.size();
    m.x.assign(n, 0.0);
    m.y.assign(n, 0.0);
    m.w.assign(n, 0.0);
    m.h.assign(n, 0.0);
    // the figure's edges from the axes' left edge
    m.lo = -number(bbox.attr("x0"_n)) * per_x;
    m.hi = (number(figure.attr("bbox"_n).attr("width"_n)) - number(bbox.attr("x0"_n))) * per_x;
    m.height = ax_h * per_y;
    m.gap_x = kGapPoints * dpi / 72.0 * per_x;
    m.gap_y = kRowGapPoints * dpi / 72.0 * per_y;
    py::object renderer = call({method(figure.attr("canvas"_n), "get_renderer")});
    for (NodeId k : drawn) {
        const py::object& box = drawing.boxes[static_cast<std::size_t>(k)];
        call({method(box, "update_bbox_position_size"), renderer});
        py::object extent = call({method(call({method(box, "get_bbox_patch")}), "get_window_extent"), renderer});
        const auto j = static_cast<std::size_t>(k);
        m.x[j] = number(box.attr(box_names().x));
        m.y[j] = number(box.attr(box_names().y));
        m.w[j] = number(extent.attr("width"_n)) * per_x;
        m.h[j] = number(extent.attr("height"_n)) * per_y;
    }
    return m;
}

// The drawn nodes by rows of one height, the top row first, each left to right.
std::vector<std::vector<NodeId>> rows_of(const Measure& m, std::vector<NodeId> drawn) {
    std::sort(drawn.begin(), drawn.end(), [&m](NodeId a, NodeId b) {
        const auto i = static_cast<std::size_t>(a);
        const auto j = static_cast<std::size_t>(b);
        return m.y[i] != m.y[j] ? m.y[i] > m.y[j] : (m.x[i] != m.x[j] ? m.x[i] < m.x[j] : a < b);
    });
    std::vector<std::vector<NodeId>> rows;
    for (NodeId k : drawn) {
        if (rows.empty() || m.y[static_cast<std::size_t>(rows.back().front())] != m.y[static_cast<std::size_t>(k)]) {
            rows.emplace_back();
        }
        rows.back().push_back(k);
    }
    return rows;
}

// How much wider the widest row, and how much taller the tightest pair of neighbouring rows, would
// have to be to hold their boxes (1 where they do); and the share of its font at which every
// row's boxes would fit (1 where they do).
struct Want {
    double wider = 1, taller = 1, font = 1;
};

Want wanted(const Measure& m, const std::vector<std::vector<NodeId>>& rows) {
    Want want;
    double tallest_above = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        double boxes = 0;
        double tallest = 0;
        for (NodeId k : rows[r]) {
            boxes += m.w[static_cast<std::size_t>(k)];
            tallest = std::max(tallest, m.h[static_cast<std::size_t>(k)]);
        }
        const double gaps = m.gap_x * static_cast<double>(rows[r].size() - 1);
        want.wider = std::max(want.wider, (boxes + gaps) / m.width());
        want.font = std::min(want.font, boxes > 0 ? (m.width() - gaps) / boxes : 1.0);
        if (r > 0) {
            const double pitch = m.y[static_cast<std::size_t>(rows[r - 1].front())] - m.y[static_cast<std::size_t>(rows[r].front())];
            const double reach = (tallest_above + tallest) / 2;
            want.taller = std::max(want.taller, (reach + m.gap_y) / pitch);
            want.font = std::min(want.font, reach > 0 ? (pitch - m.gap_y) / reach : 1.0);
        }
        tallest_above = tallest;
    }
    return want;
}

void set_font(const Drawing& drawing, const std::vector<NodeId>& drawn, double size) {
    for (NodeId k : drawn) {
        call({method(drawing.boxes[static_cast<std::size_t>(k)], "set_fontsize"), py::float_(size)});
    }
    for (const auto& [label, child] : drawing.labels) {
        call({method(label, "set_fontsize"), py::float_(size)});
    }
}

}  // namespace

void clear_boxes(py::handle ax, const Drawing& drawing, const std::vector<NodeId>& drawn,
                 const std::vector<NodeId>& left, const std::vector<NodeId>& right, bool in_points) {
    if (drawn.size() < 2) {
        return;
    }
    py::object figure = ax.attr("figure"_n);
    call({plt().attr("tight_layout"_n)});
    Measure m = measure(ax, drawing, drawn, in_points);
    // the font first: one size for every box, no smaller than kMinFont
    const Want first = wanted(m, rows_of(m, drawn));
    if (first.font < 1) {
        const double size = number(call({method(drawing.boxes[static_cast<std::size_t>(drawn.front())], "get_fontsize")}));
        // (a little below the share: a text's height does not shrink quite in proportion)
        set_font(drawing, drawn, std::max(kMinFont, size * first.font * 0.98));
        call({plt().attr("tight_layout"_n)});
        m = measure(ax, drawing, drawn, in_points);
    }
    // then the figure, until its rows hold their boxes
    for (int round = 0; round < kRounds; ++round) {
        const Want want = wanted(m, rows_of(m, drawn));
        if (want.wider <= 1 && (want.taller <= 1 || in_points)) {
            break;
        }
        py::object size = call({method(figure, "get_size_inches")});
        const double w = number(size[py::int_(0)]) * std::max(1.0, want.wider * 1.02);
        // boxes placed in points keep their heights whatever the figure's
        const double h = number(size[py::int_(1)]) * (in_points ? 1.0 : std::max(1.0, want.taller * 1.02));
        call({method(figure, "set_size_inches"), py::float_(w), py::float_(h)});
        call({plt().attr("tight_layout"_n)});
        m = measure(ax, drawing, drawn, in_points);
    }
    // each row packed, top down, its boxes' subtrees moving with them
    std::vector<NodeId> parent(drawing.boxes.size(), kNoNode);
    for (NodeId k : drawn) {
        const auto j = static_cast<std::size_t>(k);
        for (NodeId child : {j < left.size() ? left[j] : kNoNode, j < right.size() ? right[j] : kNoNode}) {
            if (child >= 0 && static_cast<std::size_t>(child) < parent.size()) {
                parent[static_cast<std::size_t>(child)] = k;
            }
        }
    }
    const std::vector<double> shift = clear_rows(rows_of(m, drawn), parent, m.x, m.w, m.gap_x, m.lo, m.hi);
    for (NodeId k : drawn) {
        const auto j = static_cast<std::size_t>(k);
        const py::object& box = drawing.boxes[j];
        if (shift[j] != 0) {
            box.attr(box_names().x) = py::float_(m.x[j] + shift[j]);
        }
        const NodeId up = parent[j];
        if (up != kNoNode && shift[static_cast<std::size_t>(up)] != 0) {
            py::object xy = box.attr(box_names().xy);
            box.attr(box_names().xy) = py::make_tuple(number(xy[py::int_(0)]) + shift[static_cast<std::size_t>(up)], xy[py::int_(1)]);
        }
    }
}

}  // namespace vexo
