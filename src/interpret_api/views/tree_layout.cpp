// The slot layout of the global tree and the spreading of the local tree's crowded boxes.
#include "views/tree_layout.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>

namespace vexo {

namespace {

// The top slot sits at (x_mid, y_ini). Level `level` below it (1 for the top's children) lies
// y_ini * 0.9 * 1.9 / height lower per level, and a child sits x_max / 2 ** (level + 1) left
// (slot 2s + 1) or right (slot 2s + 2) of its parent s. Evaluated in the order in which a grid of
// every slot, built level by level, would evaluate it, so the places agree to the last bit; but
// only the slots of shown nodes are computed, at any depth.
double level_offset(const SlotFrame& frame, long long level) {
    const int exponent = static_cast<int>(std::min<long long>(level + 1, 4096));
    return frame.x_max / std::ldexp(1.0, exponent);
}

double level_y(const SlotFrame& frame, long long level) {
    return frame.y_ini - frame.y_ini * 0.9 * 1.9 / frame.height * static_cast<double>(level);
}

}  // namespace

SubtreeLayout lay_out_subtree(const std::vector<NodeId>& left, const std::vector<NodeId>& right, NodeId top,
                              long long depth, const SlotFrame& frame) {
    const std::size_t n = std::min(left.size(), right.size());
    SubtreeLayout layout;
    layout.place_of.assign(n, kNotShown);
    auto check = [n](NodeId node) {
        if (node < 0 || static_cast<unsigned long long>(node) >= n) {
            throw NotANode("node " + std::to_string(node) + " is not a node of the tree (ids 0 to " +
                           std::to_string(static_cast<long long>(n) - 1) + ")");
        }
    };
    auto place = [&layout](NodeId node, Place where) {
        std::size_t& slot = layout.place_of[static_cast<std::size_t>(node)];
        if (slot != kNotShown) {
            throw NotATree("node " + std::to_string(node) +
                           " is reached twice: children_left and children_right do not describe a tree");
        }
        slot = layout.places.size();
        layout.places.push_back(where);
    };

    check(top);
    place(top, {{frame.x_mid, frame.y_ini}, {frame.x_mid, frame.y_ini}});
    std::vector<NodeId> level{top};
    for (long long i = 1; i <= depth && !level.empty(); ++i) {
        const double offset = level_offset(frame, i);
        const double y = level_y(frame, i);
        std::vector<NodeId> next;
        for (NodeId parent : level) {
            const Point from = layout.places[layout.place_of[static_cast<std::size_t>(parent)]].at;
            const auto j = static_cast<std::size_t>(parent);
            for (const auto& [child, x] : {std::pair{left[j], from.x - offset}, std::pair{right[j], from.x + offset}}) {
                if (child == kNoNode) {
                    continue;
                }
                check(child);
                place(child, {{x, y}, from});
                next.push_back(child);
            }
        }
        level = std::move(next);
    }
    for (NodeId node : level) {
        const auto j = static_cast<std::size_t>(node);
        if (left[j] != right[j]) {
            layout.unfinished.push_back(node);
        }
    }
    return layout;
}

double standard_distance(double mid_x, double width) { return mid_x > 1 ? 0.125 * (72 * width) : 0.125; }

double spread_change(double a, double b, double standard) {
    const double dis = std::abs(a - b);
    return dis < standard ? (standard - dis) / 2 : 0.0;
}

long long subtree_depth(const std::vector<NodeId>& left, const std::vector<NodeId>& right, NodeId top) {
    const std::size_t n = std::min(left.size(), right.size());
    std::vector<char> seen(n, 0);
    std::vector<NodeId> level{top};
    long long depth = -1;
    while (!level.empty()) {
        std::vector<NodeId> next;
        bool any = false;
        for (NodeId node : level) {
            const auto j = static_cast<std::size_t>(node);
            if (node < 0 || j >= n || seen[j] != 0) {
                continue;
            }
            seen[j] = 1;
            any = true;
            for (NodeId child : {left[j], right[j]}) {
                if (child != kNoNode) {
                    next.push_back(child);
                }
            }
        }
        depth += any ? 1 : 0;
        level = std::move(next);
    }
    return std::max(depth, 0LL);
}

Stretch stretch_over(const Extent& drawn, const Extent& whole) {
    Stretch s;
    if (drawn.x1 > drawn.x0 && whole.x1 > whole.x0) {
        s.ax = (whole.x1 - whole.x0) / (drawn.x1 - drawn.x0);
        s.bx = whole.x0 - s.ax * drawn.x0;
    }
    // the top level stays; the lowest drawn level goes down to the drawing's lowest
    if (drawn.y1 > drawn.y0 && drawn.y1 > whole.y0) {
        s.ay = (drawn.y1 - whole.y0) / (drawn.y1 - drawn.y0);
        s.by = drawn.y1 - s.ay * drawn.y1;
    }
    return s;
}

std::vector<std::pair<std::size_t, std::size_t>> level_pairs(const std::vector<double>& heights) {
    std::unordered_map<double, std::vector<std::size_t>> at;
    std::vector<double> order;
    for (std::size_t i = 0; i < heights.size(); ++i) {
        std::vector<std::size_t>& positions = at[heights[i]];
        if (positions.empty()) {
            order.push_back(heights[i]);
        }
        positions.push_back(i);
    }
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    for (double y : order) {
        const std::vector<std::size_t>& positions = at[y];
        if (positions.size() == 2 && !std::isnan(y)) {
            pairs.emplace_back(positions[0], positions[1]);
        }
    }
    return pairs;
}

std::vector<double> pack_row(const std::vector<double>& want, const std::vector<double>& width, double gap,
                             double lo, double hi) {
    const std::size_t n = want.size();
    if (n == 0) {
        return {};
    }
    // With o[i] the least distance of centre i from centre 0, y[i] = x[i] - o[i] must not fall
    // from left to right: the nearest such y to want - o is its isotonic regression (pooling
    // adjacent violators), then clipped to the bounds of the row's two ends.
    std::vector<double> o(n, 0.0);
    for (std::size_t i = 1; i < n; ++i) {
        o[i] = o[i - 1] + (width[i - 1] + width[i]) / 2 + gap;
    }
    struct Block {
        double sum;
        std::size_t count;
    };
    std::vector<Block> blocks;
    for (std::size_t i = 0; i < n; ++i) {
        blocks.push_back({want[i] - o[i], 1});
        while (blocks.size() > 1) {
            const Block& b = blocks.back();
            const Block& a = blocks[blocks.size() - 2];
            if (a.sum / static_cast<double>(a.count) <= b.sum / static_cast<double>(b.count)) {
                break;
            }
            const Block merged{a.sum + b.sum, a.count + b.count};
            blocks.pop_back();
            blocks.back() = merged;
        }
    }
    const double low = lo + width[0] / 2;
    const double high = hi - width[n - 1] / 2 - o[n - 1];
    std::vector<double> x(n);
    std::size_t i = 0;
    for (const Block& b : blocks) {
        const double mean = b.sum / static_cast<double>(b.count);
        const double y = low > high ? (low + high) / 2 : std::clamp(mean, low, high);
        for (std::size_t k = 0; k < b.count; ++k, ++i) {
            x[i] = b.count == 1 && y == mean ? want[i] : y + o[i];
        }
    }
    return x;
}

std::vector<double> clear_rows(const std::vector<std::vector<NodeId>>& rows, const std::vector<NodeId>& parent,
                               const std::vector<double>& x, const std::vector<double>& width, double gap,
                               double lo, double hi) {
    std::vector<double> shift(x.size(), 0.0);
    for (const std::vector<NodeId>& row : rows) {
        std::vector<double> want;
        std::vector<double> wide;
        for (NodeId k : row) {
            const auto j = static_cast<std::size_t>(k);
            const NodeId up = parent[j];
            want.push_back(up == kNoNode ? x[j] : x[j] + shift[static_cast<std::size_t>(up)]);
            wide.push_back(width[j]);
        }
        const std::vector<double> placed = pack_row(want, wide, gap, lo, hi);
        for (std::size_t i = 0; i < row.size(); ++i) {
            const auto j = static_cast<std::size_t>(row[i]);
            shift[j] = placed[i] - x[j];
        }
    }
    return shift;
}

}  // namespace vexo
