// The boxes that scikit-learn's plot_tree draws, as the tree views read and change them, and the
// node ids of the tree's arrays.
#pragma once

#include "views/idioms.h"
#include "views/tree_layout.h"

#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vexo {

// The names that the loops over all boxes use, interned once: a tree has a box per node.
struct BoxNames {
    py::handle text = "_text"_n;
    py::handle x = "_x"_n;
    py::handle y = "_y"_n;
    py::handle xy = "xy"_n;
};

inline const BoxNames& box_names() {
    static const BoxNames cached;
    return cached;
}

// float(obj)
inline double number(py::handle obj) {
    const double value = PyFloat_AsDouble(obj.ptr());
    if (value == -1.0 && PyErr_Occurred()) {
        throw py::error_already_set();
    }
    return value;
}

// operator.index(obj) as a node id; ids beyond the range of long long saturate (and are then no
// node of any tree).
NodeId node_id(py::handle obj);

// The node ids of a sequence, as numpy arrays of signed integers hold them in a buffer, or item by
// item through operator.index.
std::vector<NodeId> node_ids(py::handle seq);

// The node ids of a sequence as a set, for membership tests.
std::unordered_set<NodeId> node_set(py::handle seq);

// What plot_tree returned: the node boxes in order (box k is node k) and the unboxed edge labels,
// each with the index of the box drawn just before it (the child it labels), -1 if none.
struct Drawing {
    std::vector<py::object> boxes;
    std::vector<std::pair<py::object, long long>> labels;
};

Drawing sort_artists(py::handle artists);

// artists[i] with Python's list indexing
inline const py::object& box_at(const Drawing& drawing, NodeId i) {
    const auto n = static_cast<NodeId>(drawing.boxes.size());
    const NodeId k = i < 0 ? i + n : i;
    if (k < 0 || k >= n) {
        throw py::index_error("list index out of range");
    }
    return drawing.boxes[static_cast<std::size_t>(k)];
}

inline void move_box(py::handle artist, const Place& place) {
    artist.attr(box_names().x) = py::float_(place.at.x);
    artist.attr(box_names().y) = py::float_(place.at.y);
    artist.attr(box_names().xy) = py::make_tuple(place.arrow.x, place.arrow.y);
}

// An edge label at the middle of its child's arrow, as plot_tree puts it: from the child's box
// to the point its arrow leaves.
inline void at_arrow_middle(py::handle label, py::handle box) {
    py::object xy = box.attr(box_names().xy);
    label.attr(box_names().x) = py::float_((number(xy[py::int_(0)]) + number(box.attr(box_names().x))) / 2);
    label.attr(box_names().y) = py::float_((number(xy[py::int_(1)]) + number(box.attr(box_names().y))) / 2);
}

inline void hide(py::handle artist) { call({method(artist, "set_visible"), py::handle(Py_False)}); }

// artist._text = artist._text.replace(criterion, "criterion")
void rename_criterion(py::handle artist, py::handle criterion);

// artist._text = artist._text + "\n(none-leaf-node)"
void mark_inner(py::handle artist);

// ---------------------------------------------------------------------------------------------
// What the boxes say, from the fitted tree's own arrays

// A number as the boxes print it: 4 significant digits (every whole digit from 1e4), without an
// exponent from 1e-4 to 1e15
// (121122.854 is 121123, 151.606 is 151.6).
std::string significant(double x);

// The fitted tree's arrays (tree.tree_) that the boxes' texts and fills come from, read once per
// drawing. Empty where the drawn object is no fitted scikit-learn tree.
struct TreeFacts {
    std::vector<NodeId> feature;     // per node the feature of its split
    std::vector<double> threshold;   // per node the threshold of its split (model scale)
    std::vector<double> impurity;    // per node the criterion's value
    std::vector<double> value;       // per node `width` numbers: the class counts, or the mean
    std::size_t width = 0;           // classes of a classifier, 1 for a regressor
    bool classifier = false;
    double lowest = 0, highest = 0;  // a regressor's smallest and largest node mean

    std::size_t nodes() const { return impurity.size(); }
};

TreeFacts read_tree(py::handle tree);

// The text after `value = ` of node k: "[285, 170]" (class counts) or "151.6" (the mean).
std::string value_text(const TreeFacts& facts, std::size_t k);

// The split line of node k in the feature's original units, as the pipeline words it:
//     feature = tree.tree_.feature[k]
//     feature_names_trunc[feature] + " " + pipeline.split_condition(feature_names_full[feature],
//                                                                   tree.tree_.threshold[k])
std::string split_in_units(const TreeFacts& facts, std::size_t k, py::handle feature_names_trunc,
                           py::handle feature_names_full, py::handle pipeline);

// Node k's box text with its criterion and value at 4 significant digits and, where given, its
// split line replaced. `at` is the index of the line after the node id line (1 where the box
// starts with "node #k", else 0); `split` says whether node k has children. A line that is not
// where plot_tree writes it stays.
void tidy_box(py::handle artist, const TreeFacts& facts, std::size_t k, std::size_t at, bool split,
              const std::string* split_line);

// ---------------------------------------------------------------------------------------------
// Colours and notes of the drawing

// Box fills: a classifier's node in its majority class's colour, paler the more mixed it is; a
// regressor's in the look's data colour, darker the higher its mean. A pure node, or the highest
// mean, takes its colour at three quarters against white, so that the text stays dark on light;
// class_colour is that fill of class k's colour.
std::string class_colour(std::size_t k);
std::string node_fill(const TreeFacts& facts, std::size_t k);

inline constexpr const char* kDataColour = "#4c72b0";  // the look's data colour
inline constexpr const char* kBoxEdge = "#b0b0b0";     // the look's axes edge
inline constexpr const char* kPathFill = "#d2dceb";    // the data colour, a quarter strong
inline constexpr const char* kPathEdge = kDataColour;
inline constexpr const char* kPlainFill = "#ffffff";

// artist.get_bbox_patch(): its face and edge colours and edge width
void paint(py::handle artist, const std::string& face, const char* edge, double width);

// The lines under the drawing, left, and a legend of coloured boxes under it, right (none where
// `entries` is empty): above it the top box may reach beyond the axes. `in_layout`: tight_layout
// makes room for them; not where plot_tree places the boxes in points from the axes' corner, which
// the layout expects to fill the figure (a saved figure's tight box still holds them).
// `top`: where they start, in the axes' height (just under the axes unless boxes reach lower).
py::object caption(py::handle ax, const std::string& text, bool in_layout, double top = -0.01);
struct LegendEntry {
    std::string label;
    std::string face;
    const char* edge;
};
void box_legend(py::handle ax, const std::vector<LegendEntry>& entries, bool in_layout, double top = -0.01);

// Where the caption and legend start so that they stay clear of the boxes of the nodes in `drawn`
// (a box's text is centred on its place, so the lowest ones reach below the axes), in the axes' height.
double under_boxes(py::handle ax, const Drawing& drawing, const std::unordered_set<NodeId>& drawn);

// After the figure's layout, which moves the boxes: the caption `note` and the legend move under
// the boxes again, and the layout is made again (a few rounds at most).
void keep_under(py::handle ax, py::handle note, const Drawing& drawing, const std::unordered_set<NodeId>& drawn);

// The global tree's legend: the classes' colours as it fills its boxes, named as the experiment names
// them ("class 0", ... where it does not); none for a regressor.
std::vector<LegendEntry> class_entries(const TreeFacts& facts, py::handle class_names);

// How much of the tree the global view shows below `top` (`shown` of `whole` levels), and, where
// levels are cut (`cut`), what the mark of its last shown level says.
std::string depth_note(NodeId top, long long shown, long long whole, bool cut);

// The boxes of the nodes in `drawn`, and their arrows, stretched over the whole drawing: the levels
// and branches that a sample's part of the tree leaves out leave no blank.
void fill_drawing(const Drawing& drawing, const std::unordered_set<NodeId>& drawn);

// The boxes of the nodes in `drawn` clear of each other and inside the axes, which tight_layout
// keeps inside the figure. Rows are the boxes of one height. Where a row is wider than the axes, or
// two rows closer than their boxes are high, the font of every box shrinks to fit, down to 7
// points; past that the figure grows instead. Then each row is packed as clear_rows says and the
// arrows follow their parents. `left`, `right`: the tree's children arrays; `in_points`: the
// boxes are placed in points from the axes' corner, else in its fraction. Lays the figure out.
void clear_boxes(py::handle ax, const Drawing& drawing, const std::vector<NodeId>& drawn,
                 const std::vector<NodeId>& left, const std::vector<NodeId>& right, bool in_points);

// What the boxes' numbers are: "criterion = gini · samples = training rows · value = ...", the
// class names or the target from the tree result (None where the result does not name them).
// `filled`: the boxes are filled by class or by mean, and the note says how.
std::string numbers_note(const TreeFacts& facts, py::handle criterion, py::handle class_names,
                         py::handle target, bool filled);

}  // namespace vexo
