// Reading the tree's node ids and the boxes of plot_tree, and rewriting the boxes' texts.
#include "views/tree_boxes.h"

#include "views/records.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <numeric>
#include <sstream>
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

namespace {

// np.ravel(np.asarray(array, dtype=float)) as doubles
std::vector<double> doubles(py::handle array) {
    py::object flat = call({method(np(), "ravel"), call({method(np(), "asarray"), array, kw("dtype", builtin_float())})});
    py::buffer_info info = py::reinterpret_borrow<py::buffer>(flat).request();
    std::vector<double> out(static_cast<std::size_t>(info.shape[0]));
    const auto* base = static_cast<const char*>(info.ptr);
    for (std::size_t i = 0; i < out.size(); ++i) {
        std::memcpy(&out[i], base + static_cast<py::ssize_t>(i) * info.strides[0], sizeof(double));
    }
    return out;
}

std::string text_of(py::handle obj) { return py::str(obj).cast<std::string>(); }

bool starts_with(const std::string& text, const char* start) { return text.rfind(start, 0) == 0; }

// Class colours: an orange and the look's blue first (a classification's explained class, the
// second, in blue; a colour-blind reader tells the pair apart), then the rest of a palette.
constexpr const char* kPalette[] = {"#dd8452", kDataColour, "#55a868", "#c44e52", "#8172b3",
                                    "#937860", "#da8bc3", "#8c8c8c", "#ccb974", "#64b5cd"};
// The fill of a pure node, or of the highest mean: the colour this strong against white, so that
// the box text stays dark on light.
constexpr double kStrongest = 0.75;

std::string tint(const char* colour, double strength) {
    const double a = std::clamp(strength, 0.0, 1.0) * kStrongest;
    std::string out = "#";
    for (int c = 0; c < 3; ++c) {
        const int channel = std::stoi(std::string(colour + 1 + 2 * c, 2), nullptr, 16);
        const long mixed = std::lround(255.0 + (channel - 255.0) * a);
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02lx", mixed);
        out += hex;
    }
    return out;
}

// Where the boxes are: the extent of those in `drawn` (by node id), and of all of them.
std::pair<Extent, Extent> extents(const Drawing& drawing, const std::unordered_set<NodeId>& drawn) {
    Extent part{HUGE_VAL, -HUGE_VAL, HUGE_VAL, -HUGE_VAL};
    Extent whole = part;
    for (std::size_t k = 0; k < drawing.boxes.size(); ++k) {
        const Point p{number(drawing.boxes[k].attr(box_names().x)), number(drawing.boxes[k].attr(box_names().y))};
        for (Extent* e : {&whole, drawn.count(static_cast<NodeId>(k)) != 0 ? &part : nullptr}) {
            if (e != nullptr) {
                *e = {std::min(e->x0, p.x), std::max(e->x1, p.x), std::min(e->y0, p.y), std::max(e->y1, p.y)};
            }
        }
    }
    return {part, whole};
}

}  // namespace

std::string significant(double x) {
    if (std::isnan(x)) {
        return "nan";
    }
    if (std::isinf(x)) {
        return x > 0 ? "inf" : "-inf";
    }
    char buf[64];
    // a number of five or more whole digits keeps them all (121122, not 121100), as the bars
    // print it
    if (std::abs(x) >= 1e4 && std::abs(x) < 1e15) {
        std::snprintf(buf, sizeof buf, "%.0f", x);
        return buf;
    }
    // below 1e4 "%.4g" writes an exponent only under 1e-4
    std::snprintf(buf, sizeof buf, "%.4g", x);
    const std::string text(buf);
    return text == "-0" ? "0" : text;
}

TreeFacts read_tree(py::handle tree) {
    TreeFacts facts;
    py::object arrays = py::getattr(tree, "tree_", py::none());
    if (arrays.is_none()) {
        return facts;
    }
    facts.feature = node_ids(arrays.attr("feature"_n));
    facts.threshold = doubles(arrays.attr("threshold"_n));
    facts.impurity = doubles(arrays.attr("impurity"_n));
    const std::vector<NodeId> classes = node_ids(arrays.attr("n_classes"_n));
    std::vector<double> value = doubles(arrays.attr("value"_n));
    const std::size_t n = facts.nodes();
    // one output: n x 1 x classes; a multi-output tree keeps plot_tree's own numbers
    if (node_id(arrays.attr("n_outputs"_n)) != 1 || classes.size() != 1 || classes[0] < 1 ||
        value.size() != n * static_cast<std::size_t>(classes[0])) {
        return facts;
    }
    facts.width = static_cast<std::size_t>(classes[0]);
    facts.classifier = facts.width > 1;
    if (facts.classifier) {
        // the shares of the classes times the node's weight: the counts that plot_tree prints
        const std::vector<double> weight = doubles(arrays.attr("weighted_n_node_samples"_n));
        for (std::size_t k = 0; k < n && k < weight.size(); ++k) {
            for (std::size_t j = 0; j < facts.width; ++j) {
                value[k * facts.width + j] *= weight[k];
            }
        }
    } else if (n > 0) {
        const auto [low, high] = std::minmax_element(value.begin(), value.end());
        facts.lowest = *low;
        facts.highest = *high;
    }
    facts.value = std::move(value);
    return facts;
}

std::string value_text(const TreeFacts& facts, std::size_t k) {
    const double* row = facts.value.data() + k * facts.width;
    if (!facts.classifier) {
        return significant(row[0]);
    }
    bool whole = true;
    for (std::size_t j = 0; j < facts.width; ++j) {
        whole = whole && std::abs(row[j] - std::round(row[j])) <= 1e-9 * std::max(1.0, std::abs(row[j]));
    }
    std::string text = "[";
    for (std::size_t j = 0; j < facts.width; ++j) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.0f", std::round(row[j]));
        text += (j > 0 ? ", " : "") + (whole ? std::string(buf) : significant(row[j]));
    }
    return text + "]";
}

std::string split_in_units(const TreeFacts& facts, std::size_t k, py::handle feature_names_trunc,
                           py::handle feature_names_full, py::handle pipeline) {
    py::int_ feature(facts.feature[k]);
    py::object shown = feature_names_trunc[feature];
    py::object condition = call({method(pipeline, "split_condition"), py::object(feature_names_full[feature]),
                                 py::float_(facts.threshold[k])});
    return text_of(shown) + " " + text_of(condition);
}

void tidy_box(py::handle artist, const TreeFacts& facts, std::size_t k, std::size_t at, bool split,
              const std::string* split_line) {
    std::vector<std::string> lines;
    std::stringstream text(text_of(artist.attr(box_names().text)));
    for (std::string line; std::getline(text, line, '\n');) {
        lines.push_back(line);
    }
    const std::size_t first = at + (split ? 1 : 0);  // the criterion's line
    if (split_line != nullptr && split && at < lines.size()) {
        lines[at] = *split_line;
    }
    if (k < facts.nodes() && first < lines.size() && starts_with(lines[first], "criterion = ")) {
        lines[first] = "criterion = " + significant(facts.impurity[k]);
    }
    if (k < facts.nodes() && facts.width > 0 && first + 2 < lines.size() && starts_with(lines[first + 2], "value = ")) {
        lines[first + 2] = "value = " + value_text(facts, k);
    }
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        joined += (i > 0 ? "\n" : "") + lines[i];
    }
    artist.attr(box_names().text) = py::str(joined);
}

std::string class_colour(std::size_t k) { return tint(kPalette[k % std::size(kPalette)], 1.0); }

std::string node_fill(const TreeFacts& facts, std::size_t k) {
    const double* row = facts.value.data() + k * facts.width;
    if (!facts.classifier) {
        const double span = facts.highest - facts.lowest;
        return tint(kDataColour, span > 0 ? (row[0] - facts.lowest) / span : 0.0);
    }
    // sklearn's shading: the lead of the largest share over the second, out of what the second
    // leaves
    const double total = std::accumulate(row, row + facts.width, 0.0);
    std::size_t top = 0;
    for (std::size_t j = 1; j < facts.width; ++j) {
        top = row[j] > row[top] ? j : top;
    }
    double second = 0;
    for (std::size_t j = 0; j < facts.width; ++j) {
        second = j != top ? std::max(second, row[j]) : second;
    }
    const double p1 = total > 0 ? row[top] / total : 0.0;
    const double p2 = total > 0 ? second / total : 0.0;
    return tint(kPalette[top % std::size(kPalette)], p2 < 1 ? (p1 - p2) / (1 - p2) : 0.0);
}

void paint(py::handle artist, const std::string& face, const char* edge, double width) {
    py::object patch = call({method(artist, "get_bbox_patch")});
    call({method(patch, "set_facecolor"), py::str(face)});
    call({method(patch, "set_edgecolor"), py::str(edge)});
    call({method(patch, "set_linewidth"), py::float_(width)});
}

py::object caption(py::handle ax, const std::string& text, bool in_layout, double top) {
    return call({method(ax, "text"), py::float_(0.0), py::float_(top), py::str(text), kw("transform", ax.attr("transAxes"_n)),
          kw("ha", "left"), kw("va", "top"), kw("fontsize", py::int_(11)), kw("in_layout", py::bool_(in_layout))});
}

void box_legend(py::handle ax, const std::vector<LegendEntry>& entries, bool in_layout, double top) {
    if (entries.empty()) {
        return;
    }
    py::list handles;
    py::list labels;
    for (const auto& [label, face, edge] : entries) {
        handles.append(call({plt().attr("Rectangle"_n), py::make_tuple(0, 0), py::int_(1), py::int_(1),
                             kw("facecolor", py::str(face)), kw("edgecolor", py::str(edge))}));
        labels.append(py::str(label));
    }
    call({method(ax, "legend"), kw("handles", handles), kw("labels", labels), kw("loc", "upper right"),
          kw("bbox_to_anchor", py::make_tuple(1.0, top)), kw("ncol", length(handles)),
          kw("frameon", py::bool_(false)), kw("fontsize", py::int_(11)), kw("borderaxespad", py::float_(0.0))});
    if (!in_layout) {
        call({method(call({method(ax, "get_legend")}), "set_in_layout"), py::bool_(false)});
    }
}

std::string numbers_note(const TreeFacts& facts, py::handle criterion, py::handle class_names, py::handle target,
                         bool filled) {
    std::string note = "criterion = " + text_of(criterion) + " \u00b7 samples = training rows";
    if (facts.classifier) {
        note += " \u00b7 value = training rows of each class, [";
        for (std::size_t j = 0; j < facts.width; ++j) {
            note += (j > 0 ? ", " : "") +
                    (class_names.is_none() ? "class " + std::to_string(j) : text_of(class_names[py::int_(j)]));
        }
        note += filled ? "]; fill: the majority class, paler where mixed" : "]";
    } else if (facts.width == 1) {
        note += " \u00b7 value = mean of " + (target.is_none() ? std::string("the target") : text_of(target)) +
                " over the training rows" + (filled ? "; darker fill = higher" : "");
    }
    return note;
}

std::vector<LegendEntry> class_entries(const TreeFacts& facts, py::handle class_names) {
    std::vector<LegendEntry> entries;
    for (std::size_t j = 0; facts.classifier && j < facts.width; ++j) {
        py::object name = class_names.is_none() ? py::object(py::str("class " + std::to_string(j)))
                                                : py::object(class_names[py::int_(j)]);
        entries.push_back({py::str(name).cast<std::string>(), class_colour(j), kBoxEdge});
    }
    return entries;
}

std::string depth_note(NodeId top, long long shown, long long whole, bool cut) {
    const std::string below = top == 0 ? "" : " below node #" + std::to_string(top);
    if (!cut) {
        return (top == 0 ? std::string("Whole tree") : "Whole subtree" + below) + ", depth " + std::to_string(whole);
    }
    return "Depth " + std::to_string(shown) + " of " + std::to_string(whole) + " shown" + below +
           "; (none-leaf-node): more levels below, not shown";
}

double under_boxes(py::handle ax, const Drawing& drawing, const std::unordered_set<NodeId>& drawn) {
    py::object to_axes = call({method(ax.attr("transAxes"_n), "inverted")});
    // the pad of a box around its text and a gap under it: 8 points, in pixels
    const double pad = 8.0 * number(ax.attr("figure"_n).attr("dpi"_n)) / 72.0;
    double top = -0.01;
    for (NodeId k : drawn) {
        if (k < 0 || static_cast<std::size_t>(k) >= drawing.boxes.size()) {
            continue;
        }
        py::object extent = call({method(drawing.boxes[static_cast<std::size_t>(k)], "get_window_extent")});
        py::object at = call({method(to_axes, "transform"), py::make_tuple(0.0, number(extent.attr("y0"_n)) - pad)});
        top = std::min(top, number(at[py::int_(1)]));
    }
    return top;
}

void keep_under(py::handle ax, py::handle note, const Drawing& drawing, const std::unordered_set<NodeId>& drawn) {
    for (int round = 0; round < 3; ++round) {
        const double top = under_boxes(ax, drawing, drawn);
        // a figure too low for its boxes (a lone root's is one inch high) has no room under them
        if (top >= number(call({method(note, "get_position")})[py::int_(1)]) - 1e-3 || top < -0.5) {
            return;
        }
        call({method(note, "set_y"), py::float_(top)});
        py::object legend = call({method(ax, "get_legend")});
        if (!legend.is_none()) {
            call({method(legend, "set_bbox_to_anchor"), py::make_tuple(1.0, top),
                  kw("transform", ax.attr("transAxes"_n))});
        }
        call({plt().attr("tight_layout"_n)});
    }
}

void fill_drawing(const Drawing& drawing, const std::unordered_set<NodeId>& drawn) {
    const auto [part, whole] = extents(drawing, drawn);
    if (drawn.empty()) {
        return;
    }
    const Stretch stretch = stretch_over(part, whole);
    for (NodeId k : drawn) {
        if (k < 0 || static_cast<std::size_t>(k) >= drawing.boxes.size()) {
            continue;
        }
        const py::object& box = drawing.boxes[static_cast<std::size_t>(k)];
        py::object xy = box.attr(box_names().xy);
        const Point at = stretch.at({number(box.attr(box_names().x)), number(box.attr(box_names().y))});
        const Point arrow = stretch.at({number(xy[py::int_(0)]), number(xy[py::int_(1)])});
        move_box(box, {at, arrow});
    }
}

}  // namespace vexo
