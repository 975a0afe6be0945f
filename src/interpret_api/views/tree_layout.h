// The layout of the tree diagrams, plain arithmetic over plain data: the slots of the complete
// binary tree below the shown top node, and the spreading of crowded pairs of boxes.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <utility>
#include <vector>

namespace vexo {

using NodeId = long long;
constexpr NodeId kNoNode = -1;  // scikit-learn's mark of a missing child
constexpr std::size_t kNotShown = static_cast<std::size_t>(-1);

struct Point {
    double x;
    double y;
};

// Where a shown box goes: its text at `at`, its arrow ending at `arrow` (the parent's place; the
// top's own place for the top).
struct Place {
    Point at;
    Point arrow;
};

// The frame of the slot layout: the top box's place, the widest x of the drawing and the figure
// height in inches.
struct SlotFrame {
    double x_mid;
    double y_ini;
    double x_max;
    double height;
};

// The subtree below `top`, `depth` levels deep, laid out on the slots of a complete binary tree.
struct SubtreeLayout {
    std::vector<std::size_t> place_of;  // node id -> index into `places`, kNotShown if hidden
    std::vector<Place> places;          // the shown nodes in level order, the top first
    std::vector<NodeId> unfinished;     // nodes of the last shown level that have children
};

// The arrays of children do not describe a tree: a child id outside them, or a node reached twice.
struct NotANode : std::out_of_range {
    using std::out_of_range::out_of_range;
};
struct NotATree : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

// left[j], right[j]: the children of node j, kNoNode where there is none. Cost linear in the nodes
// shown (plus one flag per node). Throws NotANode or NotATree where the arrays are no tree.
SubtreeLayout lay_out_subtree(const std::vector<NodeId>& left, const std::vector<NodeId>& right, NodeId top,
                              long long depth, const SlotFrame& frame);

// The distance that two boxes of one level should at least keep: an eighth of the figure width in
// points when plot_tree places boxes in points (top box beyond 1), else an eighth of the axes.
double standard_distance(double mid_x, double width);

// How far each of two boxes at x `a` and `b` moves apart so that they end `standard` apart; 0 when
// they are that far apart already.
double spread_change(double a, double b, double standard);

// The levels below `top` down to its deepest leaf (0 for a leaf). Ids outside the arrays and
// nodes met again end the walk there: this only counts, the layout names such arrays.
long long subtree_depth(const std::vector<NodeId>& left, const std::vector<NodeId>& right, NodeId top);

// The linear map of x and of y that stretches the extent of the drawn boxes over the extent of
// the whole drawing, top kept: what the boxes left out of a drawing leave blank is taken by those
// drawn. An extent of one point stays where it is.
struct Extent {
    double x0, x1, y0, y1;
};
struct Stretch {
    double ax = 1, bx = 0, ay = 1, by = 0;
    Point at(Point p) const { return {ax * p.x + bx, ay * p.y + by}; }
};
Stretch stretch_over(const Extent& drawn, const Extent& whole);

// One row of boxes, left to right: their wanted centres and widths. Returns the centres nearest
// the wanted ones (least squares) that keep the boxes in order, `gap` apart edge to edge and
// inside [lo, hi]; a box that need not move keeps its wanted centre to the last bit. A row wider
// than [lo, hi] is centred on it (the caller makes room first).
std::vector<double> pack_row(const std::vector<double>& want, const std::vector<double>& width, double gap,
                             double lo, double hi);

// How far each drawn box moves so that no two of a row cover each other: rows top first, each
// left to right, of node ids below `x.size()`; `parent[k]` the node whose box k's arrow leaves
// (kNoNode for none). Top down, a box wants its place shifted as far as its parent's box moved (a
// subtree moves with its top), and each row is packed by pack_row. Indexed by node id.
std::vector<double> clear_rows(const std::vector<std::vector<NodeId>>& rows, const std::vector<NodeId>& parent,
                               const std::vector<double>& x, const std::vector<double>& width, double gap,
                               double lo, double hi);

// The positions (into `heights`) of the pairs of boxes that are the only two at their height, in
// the order in which the heights first appear.
std::vector<std::pair<std::size_t, std::size_t>> level_pairs(const std::vector<double>& heights);

}  // namespace vexo
