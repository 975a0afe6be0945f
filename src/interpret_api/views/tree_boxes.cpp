// Reading the tree's node ids and the boxes of plot_tree, and rewriting the boxes' texts.
#include "views/tree_boxes.h"

#include "views/records.h"

#include <climits>
#include <cstring>
#include <string>

namespace vexo {

namespace {

// Copies the ids when the buffer's items are T's size (a standard-size format may differ from the
// native one); false leaves them to be read item by item.
template <typename T>
bool copy_ids(const py::buffer_info& info, std::vector<NodeId>& out) {
    if (info.itemsize != static_cast<py::ssize_t>(sizeof(T))) {
        return false;
    }
    const auto* base = static_cast<const char*>(info.ptr);
    for (py::ssize_t i = 0; i < info.shape[0]; ++i) {
        T value;
        std::memcpy(&value, base + i * info.strides[0], sizeof(T));
        out.push_back(static_cast<NodeId>(value));
    }
    return true;
}

// Whether the buffer of `seq` holds exactly its items. Only for these types: a subclass or another
// exporter may hide entries of its buffer (a masked array does) or give others when iterated.
bool buffer_is_items(py::handle seq) {
    PyTypeObject* type = Py_TYPE(seq.ptr());
    if (type == &PyMemoryView_Type) {
        return true;
    }
    // numpy.ndarray and array.array, from sys.modules: where such an object exists, its module has
    // been imported.
    for (const auto& [module, name] : {std::pair{"numpy", "ndarray"}, std::pair{"array", "array"}}) {
        py::object loaded = loaded_module(py::str(module));
        if (!loaded.is_none() && type == reinterpret_cast<PyTypeObject*>(py::getattr(loaded, name, py::none()).ptr())) {
            return true;
        }
    }
    return false;
}

py::handle criterion_word() {
    static const py::handle word = interned("criterion");
    return word;
}

}  // namespace

NodeId node_id(py::handle obj) {
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(obj.ptr()));
    if (!index) {
        throw py::error_already_set();
    }
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow != 0) {
        return overflow > 0 ? LLONG_MAX : LLONG_MIN;
    }
    if (value == -1 && PyErr_Occurred()) {
        throw py::error_already_set();
    }
    return value;
}

std::vector<NodeId> node_ids(py::handle seq) {
    std::vector<NodeId> out;
    if (PyObject_CheckBuffer(seq.ptr()) && buffer_is_items(seq)) {
        py::buffer_info info = py::reinterpret_borrow<py::buffer>(seq).request();
        const std::string& f = info.format;
        const char code = f.size() == 1 ? f[0] : (f.size() == 2 && (f[0] == '@' || f[0] == '=') ? f[1] : '\0');
        if (info.ndim == 1) {
            out.reserve(static_cast<std::size_t>(info.shape[0]));
            const bool copied = (code == 'b' && copy_ids<signed char>(info, out)) ||
                                (code == 'h' && copy_ids<short>(info, out)) || (code == 'i' && copy_ids<int>(info, out)) ||
                                (code == 'l' && copy_ids<long>(info, out)) ||
                                (code == 'q' && copy_ids<long long>(info, out));
            if (copied) {
                return out;
            }
        }
    }
    for (py::handle item : py::reinterpret_borrow<py::iterable>(seq)) {
        out.push_back(node_id(item));
    }
    return out;
}

std::unordered_set<NodeId> node_set(py::handle seq) {
    std::vector<NodeId> ids = node_ids(seq);
    return {ids.begin(), ids.end()};
}

Drawing sort_artists(py::handle artists) {
    Drawing drawing;
    for (py::handle artist : py::reinterpret_borrow<py::iterable>(artists)) {
        if (call({method(artist, "get_bbox_patch")}).is_none()) {
            drawing.labels.emplace_back(py::reinterpret_borrow<py::object>(artist),
                                        static_cast<long long>(drawing.boxes.size()) - 1);
        } else {
            drawing.boxes.push_back(py::reinterpret_borrow<py::object>(artist));
        }
    }
    if (drawing.boxes.empty()) {
        throw py::index_error("list index out of range");
    }
    return drawing;
}

void rename_criterion(py::handle artist, py::handle criterion) {
    py::object text = artist.attr(box_names().text);
    artist.attr(box_names().text) = call({method(text, "replace"), criterion, criterion_word()});
}

void mark_inner(py::handle artist) {
    py::object text = artist.attr(box_names().text);
    artist.attr(box_names().text) = text + py::str("\n(none-leaf-node)");
}

void rewrite_split(py::handle artist, std::size_t lines, std::size_t at, py::handle feature_names_trunc,
                   py::handle feature_names_full, py::handle pipeline) {
    // a_splits = artist._text.split("\n")
    py::object a_splits = call({artist.attr(box_names().text).attr("split"_n), "\n"});
    // if len(a_splits) == n:
    if (py::len(a_splits) != lines) {
        return;
    }
    // feature_cut_split = a_splits[s]
    py::object feature_cut_split = a_splits[py::int_(at)];
    // feature, cut = feature_cut_split.split(" <= ")
    py::list parts(call({feature_cut_split.attr("split"_n), " <= "}));
    if (parts.size() != 2) {
        throw py::value_error(parts.size() < 2 ? "not enough values to unpack (expected 2, got " +
                                                     std::to_string(parts.size()) + ")"
                                               : std::string("too many values to unpack (expected 2)"));
    }
    py::object feature = parts[0];
    py::object cut = parts[1];
    // feature_full_name = feature_names_full[feature_names_trunc.index(feature)]
    py::object feature_full_name = feature_names_full[call({feature_names_trunc.attr("index"_n), feature})];
    // cut = float(cut)
    py::list cuts;
    cuts.append(py::float_(cut));
    // cut_t = str(pipeline.transform_to_orignial_scale(feature_full_name,
    //                                                  np.array([cut]).round(decimals=3))[0][0])
    py::object scaled = call({pipeline.attr("transform_to_orignial_scale"_n), feature_full_name,
                              call({call({np().attr("array"_n), cuts}).attr("round"_n), kw("decimals", py::int_(3))})});
    py::str cut_t(original_part(scaled, Decode::indexed)[py::int_(0)]);
    // feature_cut_split_t = feature + " <= " + cut_t
    py::object feature_cut_split_t = py::str(feature) + py::str(" <= ") + cut_t;
    // artist._text = artist._text.replace(feature_cut_split, feature_cut_split_t)
    artist.attr(box_names().text) =
        call({method(artist.attr(box_names().text), "replace"), feature_cut_split, feature_cut_split_t});
}

}  // namespace vexo
