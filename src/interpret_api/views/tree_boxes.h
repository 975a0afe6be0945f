// The boxes that scikit-learn's plot_tree draws, as the tree views read and change them, and the
// node ids of the tree's arrays.
#pragma once

#include "views/idioms.h"
#include "views/tree_layout.h"

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

// An edge label at the middle of its child's arrow, as plot_tree puts it.
inline void label_arrow(py::handle label, Point at, Point arrow) {
    label.attr(box_names().x) = py::float_((arrow.x + at.x) / 2);
    label.attr(box_names().y) = py::float_((arrow.y + at.y) / 2);
}

inline void hide(py::handle artist) { call({method(artist, "set_visible"), py::handle(Py_False)}); }

// artist._text = artist._text.replace(criterion, "criterion")
void rename_criterion(py::handle artist, py::handle criterion);

// artist._text = artist._text + "\n(none-leaf-node)"
void mark_inner(py::handle artist);

// The split line of a box, line `at` of a text of `lines` lines, rewritten into the feature's
// original units; a text of another length is not a split node's and stays.
void rewrite_split(py::handle artist, std::size_t lines, std::size_t at, py::handle feature_names_trunc,
                   py::handle feature_names_full, py::handle pipeline);

}  // namespace vexo
