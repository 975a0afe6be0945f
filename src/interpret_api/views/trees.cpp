// Trees: the model's decision tree, drawn whole below any node and along one sample's path.
//
// scikit-learn's plot_tree draws every node as a boxed annotation and, beside the two children of
// the top node, the unboxed edge labels "True" and "False". The views pick the boxes out by their
// bbox patch, so that box k is node k, and keep the edge labels beside the children of the node
// drawn on top (hidden when that child is not drawn).
//
// The layout itself (slots of the complete binary tree below the shown top node, the spreading of
// crowded pairs of boxes) is plain arithmetic over plain data, in tree_layout.cpp.
#include "views/idioms.h"
#include "views/records.h"
#include "views/tree_boxes.h"
#include "views/tree_layout.h"
#include "views/views.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vexo {

namespace {

// ---------------------------------------------------------------------------------------------
// Views

// Whether an experiment's result is a tree's: a mapping of its entries. The other families have
// None there, or an explainer object of their own.
bool is_tree_result(py::handle result) {
    if (result.is_none()) {
        return false;
    }
    if (PyDict_Check(result.ptr())) {
        return true;
    }
    py::object mapping = py::module_::import("collections.abc").attr("Mapping");
    const int r = PyObject_IsInstance(result.ptr(), mapping.ptr());
    if (r < 0) {
        throw py::error_already_set();
    }
    return r != 0;
}

// interpret_result['value']['feature_names_full'] = res['feature_names']
// interpret_result['value']['feature_names'] = [self.experiment.dataset.truncated_columns_dict_10[name]
//                                               for name in res['feature_names']]
void add_display_names(py::handle self, py::dict interpret_result, py::handle res) {
    py::object full = res["feature_names"_n];
    interpret_result["value"_n]["feature_names_full"_n] = full;
    py::list short_names;
    py::object feature_names = res["feature_names"_n];
    for (py::handle name : py::reinterpret_borrow<py::iterable>(feature_names)) {
        short_names.append(self.attr("experiment"_n).attr("dataset"_n).attr("truncated_columns_dict_10"_n)[name]);
    }
    interpret_result["value"_n]["feature_names"_n] = short_names;
}

// What both drawings read first: the record's tree result and its two lists of feature names. A
// record without a tree result is refused.
//     if interpret_result['value'] is None: print("Not supported"); return
//     feature_names_trunc = interpret_result['value']['feature_names']
//     feature_names_full = interpret_result['value']['feature_names_full']
struct TreeValue {
    py::object v;
    py::object feature_names_trunc;
    py::object feature_names_full;
};

std::optional<TreeValue> tree_value(py::handle interpret_result) {
    const std::optional<py::object> v = drawn_value(interpret_result);
    if (!v) {
        return std::nullopt;
    }
    py::object trunc = (*v)["feature_names"_n];
    py::object full = (*v)["feature_names_full"_n];
    return TreeValue{*v, trunc, full};
}

// The drawing of a record that tree_value accepted.
using TreeDrawing = void (*)(py::handle interpret_result, const TreeValue& tree, py::handle pipeline,
                             py::handle original_scale, py::handle figsize);

py::object tree_plot(const Params<4>& args, TreeDrawing draw) {
    auto [interpret_result, pipeline, original_scale, figsize] = args;
    if (const std::optional<TreeValue> tree = tree_value(interpret_result)) {
        draw(interpret_result, *tree, pipeline, original_scale, figsize);
    }
    return py::none();
}

// lay_out_subtree, its refusals of arrays that are no tree raised as Python's
SubtreeLayout subtree_layout(const std::vector<NodeId>& left, const std::vector<NodeId>& right, NodeId top,
                             long long depth, const SlotFrame& frame) {
    try {
        return lay_out_subtree(left, right, top, depth, frame);
    } catch (const NotANode& e) {
        throw py::index_error(e.what());
    } catch (const NotATree& e) {
        throw py::value_error(e.what());
    }
}

// mapping.get(name): an entry that records made elsewhere may lack (None then)
py::object entry_or_none(py::handle mapping, Name name) {
    return PyDict_Check(mapping.ptr()) != 0 ? call({method(mapping, "get"), name}) : py::object(py::none());
}

// Node k's box with its numbers at 4 significant digits and, in original units, its split; line
// `at` follows the node id line.
void dress_box(py::handle artist, const TreeValue& tree, const TreeFacts& facts, std::size_t k, std::size_t at,
               bool split, bool original_scale, py::handle pipeline) {
    if (original_scale && split && k < facts.nodes()) {
        const std::string line =
            split_in_units(facts, k, tree.feature_names_trunc, tree.feature_names_full, pipeline);
        tidy_box(artist, facts, k, at, split, &line);
    } else {
        tidy_box(artist, facts, k, at, split, nullptr);
    }
}

// The body of plot_tree_diag below its refusal of a record without a tree.
void draw_tree_diag(py::handle interpret_result, const TreeValue& tree, py::handle pipeline,
                    py::handle original_scale, py::handle figsize_arg) {
    const auto& v = tree.v;
    py::object max_depth = v["max_depth"_n];
    py::object input = interpret_result["input"_n];
    py::object requested = input["depth"_n];
    py::object root = input["root"_n];
    //     depth = max_depth if max_depth < depth else depth
    py::object depth = at_most(max_depth, requested);

    //     if max_depth == 0: figsize = (figsize[0], 2)
    //     else: figsize = (figsize[0], figsize[1] * depth / 5 + 0.3)
    py::object width = figsize_arg[py::int_(0)];
    py::object tall = truthy(compare(max_depth, py::int_(0), Py_EQ))
                          ? py::object(py::int_(2))
                          : py::object(py::object(figsize_arg[py::int_(1)]) * depth / py::int_(5) + py::float_(0.3));
    py::tuple figsize = py::make_tuple(width, tall);
    const double height = number(tall);

    //     plt.figure(figsize=figsize)
    with_fonts(call({plt().attr("figure"_n), kw("figsize", figsize)}));
    //     artists = plot_tree(v['tree'], feature_names=feature_names_trunc, node_ids=True, filled=True,
    //                         fontsize=12)
    // The fills name the classes, through the legend under the tree.
    py::object artists = call({plot_tree(), v["tree"_n], kw("feature_names", tree.feature_names_trunc),
                               kw("node_ids", py::bool_(true)), kw("filled", py::bool_(true)),
                               kw("fontsize", py::int_(12))});
    const Drawing drawing = sort_artists(artists);

    //     x_mid, y_ini = artists[0]._x, artists[0]._y; if y_ini > 1: y_ini = 72 * (height - 1)
    //     x_max = np.max([artist._x for artist in artists])
    SlotFrame frame{};
    frame.x_mid = number(drawing.boxes[0].attr(box_names().x));
    frame.y_ini = number(drawing.boxes[0].attr(box_names().y));
    const bool in_points = frame.y_ini > 1;
    if (frame.y_ini > 1) {
        frame.y_ini = 72 * (height - 1);
    }
    frame.x_max = -HUGE_VAL;
    for (const py::object& box : drawing.boxes) {
        frame.x_max = std::max(frame.x_max, number(box.attr(box_names().x)));
    }
    frame.height = height;

    // The slots of the shown nodes, level by level from root, and the nodes of the last level that
    // have children below it.
    const std::vector<NodeId> left = node_ids(v["children_left"_n]);
    const std::vector<NodeId> right = node_ids(v["children_right"_n]);
    const NodeId top = node_id(root);
    const SubtreeLayout layout = subtree_layout(left, right, top, node_id(depth), frame);
    std::vector<char> unfinished(layout.place_of.size(), 0);
    for (NodeId node : layout.unfinished) {
        unfinished[static_cast<std::size_t>(node)] = 1;
    }

    //     for artist in artists:
    py::object criterion = v["criterion"_n];
    const TreeFacts facts = read_tree(v["tree"_n]);
    const bool in_units = truthy(original_scale);
    for (std::size_t c = 0; c < drawing.boxes.size(); ++c) {
        const py::object& artist = drawing.boxes[c];
        //     artist._text = artist._text.replace(v['criterion'], "criterion")
        rename_criterion(artist, criterion);
        //     if c not in show_list: artist.set_visible(False)
        //     else: artist._x, artist._y, artist.xy = x_list[pos[c]], y_list[pos[c]], xy_list[pos[c]]
        // A shown box's numbers get 4 significant digits and its split, on request, the feature's
        // own units; its fill says its class or its mean, its edge keeps it a box on any fill.
        const bool known = c < layout.place_of.size();
        if (!known || layout.place_of[c] == kNotShown) {
            hide(artist);
        } else {
            dress_box(artist, tree, facts, c, 1, left[c] != kNoNode, in_units, pipeline);
            move_box(artist, layout.places[layout.place_of[c]]);
            paint(artist, c < facts.nodes() && facts.width > 0 ? node_fill(facts, c) : std::string(kPlainFill),
                  kBoxEdge, 0.8);
        }
        //     if c in none_finished: artist._text = artist._text + "\n(none-leaf-node)"
        if (known && unfinished[c] != 0) {
            mark_inner(artist);
        }
    }

    // Under the tree: how deep it is shown, what its numbers are, and which class each fill is.
    py::object ax = call({plt().attr("gca"_n)});
    // the record's max_depth is the depth below node 0; below another node the walk counts it
    const long long whole = top == 0 ? node_id(max_depth) : subtree_depth(left, right, top);
    caption(ax, depth_note(top, std::min<long long>(node_id(depth), whole), whole, !layout.unfinished.empty()) +
                    "\n" + numbers_note(facts, criterion, entry_or_none(v, "class_names"), entry_or_none(v, "target"), true),
            !in_points);
    box_legend(ax, class_entries(facts, entry_or_none(v, "class_names")), !in_points);

    // Boxes wider than their slots (long names and thresholds, full deep levels) move apart, the
    // font shrinking or the figure growing where a level cannot hold them.
    std::vector<NodeId> shown;
    for (std::size_t c = 0; c < layout.place_of.size() && c < drawing.boxes.size(); ++c) {
        if (layout.place_of[c] != kNotShown) {
            shown.push_back(static_cast<NodeId>(c));
        }
    }
    clear_boxes(ax, drawing, shown, left, right, in_points);

    // The edge labels that plot_tree drew beside the children of node 0 go beside the children of
    // the node shown on top (top is a node, so the arrays are not empty), at the middle of the arrow.
    for (const auto& [label, child] : drawing.labels) {
        NodeId side = kNoNode;
        if (child >= 0 && child == left[0]) {
            side = left[static_cast<std::size_t>(top)];
        } else if (child >= 0 && child == right[0]) {
            side = right[static_cast<std::size_t>(top)];
        }
        const auto j = static_cast<std::size_t>(side);
        if (side < 0 || j >= layout.place_of.size() || j >= drawing.boxes.size() || layout.place_of[j] == kNotShown) {
            hide(label);
        } else {
            at_arrow_middle(label, drawing.boxes[j]);
        }
    }

    //     plt.tight_layout(); plt.show()
    call({plt().attr("tight_layout"_n)});
    call({plt().attr("show"_n)});
}

// The spreading of crowded levels: the two boxes alone on a level move apart to standard_dis, the one on
// the right to the right; the arrows of the first one's children by minus the change, of the
// second one's by plus. Returns change_dict and change_xy_dict.
std::pair<std::unordered_map<NodeId, double>, std::unordered_map<NodeId, double>> spread_pairs(
    const Drawing& drawing, const py::object& v, const std::vector<NodeId>& related, double standard_dis) {
    //     node_y = [artists[i]._y for i in v['node_related']]
    //     node_x = [artists[i]._x for i in v['node_related']]
    std::vector<double> node_y;
    std::vector<double> node_x;
    for (NodeId i : related) {
        node_y.push_back(number(box_at(drawing, i).attr(box_names().y)));
    }
    for (NodeId i : related) {
        node_x.push_back(number(box_at(drawing, i).attr(box_names().x)));
    }
    std::unordered_map<NodeId, double> change_dict;
    std::unordered_map<NodeId, double> change_xy_dict;
    for (const auto& [p0, p1] : level_pairs(node_y)) {
        const double x_change = spread_change(node_x[p0], node_x[p1], standard_dis);
        if (x_change == 0.0) {
            continue;
        }
        const NodeId a = related[p0];
        const NodeId b = related[p1];
        if (node_x[p0] > node_x[p1]) {
            change_dict[a] = x_change;
            change_dict[b] = -x_change;
        } else {
            change_dict[b] = x_change;
            change_dict[a] = -x_change;
        }
        for (const auto& [node, shift] : {std::pair{a, -x_change}, std::pair{b, x_change}}) {
            const py::int_ key(node);
            for (py::handle side : {"children_left"_n, "children_right"_n}) {
                py::object child = v[side][key];
                if (truthy(compare(child, py::int_(-1), Py_NE))) {
                    change_xy_dict[node_id(child)] = shift;
                }
            }
        }
    }
    return {change_dict, change_xy_dict};
}

// The body of plot_local_tree below its refusal of a record without a tree.
void draw_local_tree(py::handle interpret_result, const TreeValue& tree, py::handle pipeline,
                     py::handle original_scale, py::handle figsize) {
    const auto& v = tree.v;
    //     plt.figure(figsize=figsize)
    with_fonts(call({plt().attr("figure"_n), kw("figsize", figsize)}));
    //     artists = plot_tree(v['tree'], feature_names=feature_names_trunc,
    //                         class_names=v.get('class_names'), filled=False, fontsize=12)
    // The boxes are not filled: each names its majority class ("class = ...").
    py::object artists = call({plot_tree(), v["tree"_n], kw("feature_names", tree.feature_names_trunc),
                               kw("class_names", entry_or_none(v, "class_names")), kw("filled", py::bool_(false)),
                               kw("fontsize", py::int_(12))});
    const Drawing drawing = sort_artists(artists);

    py::object node_related = v["node_related"_n];
    const std::vector<NodeId> related = node_ids(node_related);
    //     mid_x = artists[0]._x; length = figsize[0]
    const double mid_x = number(drawing.boxes[0].attr(box_names().x));
    const double length = number(figsize[py::int_(0)]);
    const auto [change_dict, change_xy_dict] = spread_pairs(drawing, v, related, standard_distance(mid_x, length));

    const std::unordered_set<NodeId> related_set(related.begin(), related.end());
    const std::unordered_set<NodeId> other = node_set(v["node_other"_n]);
    const std::unordered_set<NodeId> path = node_set(v["node_index"_n]);
    const std::vector<NodeId> left = node_ids(v["children_left"_n]);
    py::object criterion = v["criterion"_n];
    const TreeFacts facts = read_tree(v["tree"_n]);
    const bool in_units = truthy(original_scale);
    //     for artist in artists:
    for (std::size_t i = 0; i < drawing.boxes.size(); ++i) {
        const py::object& artist = drawing.boxes[i];
        const auto c = static_cast<NodeId>(i);
        rename_criterion(artist, criterion);
        //     if c in change_dict.keys(): artist._x = artist._x + change_dict[c]
        if (auto found = change_dict.find(c); found != change_dict.end()) {
            artist.attr(box_names().x) = py::float_(number(artist.attr(box_names().x)) + found->second);
        }
        //     if c in change_xy_dict.keys(): artist.xy = (artist.xy[0] + change_xy_dict[c], artist.xy[1])
        if (auto found = change_xy_dict.find(c); found != change_xy_dict.end()) {
            py::object xy = artist.attr(box_names().xy);
            py::object x = py::float_(number(xy[py::int_(0)]) + found->second);
            artist.attr(box_names().xy) = py::make_tuple(x, xy[py::int_(1)]);
        }
        //     if c not in v['node_related']: artist.set_visible(False)
        // A drawn box's numbers get 4 significant digits and its split, on request, the feature's
        // own units; a box off the path is white, edged so that it stays a box.
        if (related_set.count(c) == 0) {
            hide(artist);
        } else {
            dress_box(artist, tree, facts, i, 0, i < left.size() && left[i] != kNoNode, in_units, pipeline);
            paint(artist, kPlainFill, kBoxEdge, 0.8);
        }
        //     if c in v['node_other']: artist._text = artist._text + "\n(none-leaf-node)"
        if (other.count(c) != 0) {
            mark_inner(artist);
        }
        //     if c in v['node_index']: artist.get_bbox_patch().set_facecolor(<the look's soft highlight>)
        if (path.count(c) != 0) {
            paint(artist, kPathFill, kPathEdge, 1.6);
        }
    }
    fill_drawing(drawing, related_set);
    // Boxes wider than the spreading left room for move apart, as in the global tree.
    py::object ax = call({plt().attr("gca"_n)});
    clear_boxes(ax, drawing, std::vector<NodeId>(related_set.begin(), related_set.end()), left,
                node_ids(v["children_right"_n]), mid_x > 1);

    // The edge labels stay at the middle of their child's arrow, wherever the child moved.
    for (const auto& [label, child] : drawing.labels) {
        if (child < 0 || related_set.count(child) == 0) {
            hide(label);
        } else {
            at_arrow_middle(label, drawing.boxes[static_cast<std::size_t>(child)]);
        }
    }

    // Under the tree: whose path is shaded, what the mark says and what the numbers are.
    const double under = under_boxes(ax, drawing, related_set);
    py::object input = entry_or_none(interpret_result, "input");
    py::object idx = input.is_none() ? input : entry_or_none(input, "idx");
    const std::string whose = idx.is_none() ? "the sample" : "sample " + py::str(idx).cast<std::string>();
    py::object note = caption(ax, "Path of " + whose + " shaded" +
                    (other.empty() ? "" : "; (none-leaf-node): a branch it does not take, not drawn further") +
                    "\n" + numbers_note(facts, criterion, entry_or_none(v, "class_names"), entry_or_none(v, "target"), false),
            mid_x <= 1, under);
    box_legend(ax, {{"path of " + whose, kPathFill, kPathEdge}}, mid_x <= 1, under);

    //     plt.tight_layout(); plt.show()
    call({plt().attr("tight_layout"_n)});
    keep_under(ax, note, drawing, related_set);
    call({plt().attr("show"_n)});
}

}  // namespace

// @staticmethod
// def plot_tree_diag(interpret_result, pipeline=None, original_scale=False, figsize=(20, 10)):
py::object plot_tree_diag(const Params<4>& args) { return tree_plot(args, draw_tree_diag); }
constexpr Row plot_tree_diag_row{Owner::graph, method<plot_tree_diag>("plot_tree_diag", "interpret_result, pipeline=None, original_scale=False, figsize=(20, 10)")};

// @staticmethod
// def plot_local_tree(interpret_result, pipeline=None, original_scale=False, figsize=(20, 10)):
py::object plot_local_tree(const Params<4>& args) { return tree_plot(args, draw_local_tree); }
constexpr Row plot_local_tree_row{Owner::graph, method<plot_local_tree>("plot_local_tree", "interpret_result, pipeline=None, original_scale=False, figsize=(20, 10)")};

// def get_tree(self, root=0, depth=3, original_scale=False, figsize=(20, 10)):
py::object get_tree(const Params<5>& args) {
    auto [self, root, depth, original_scale, figsize] = args;
    py::dict input;
    input["depth"_n] = depth;
    input["root"_n] = root;
    //     res = deepcopy(self.experiment.interpret_result_dict[self.model])
    // A model without a tree has no tree result (None, or another family's explainer): its record
    // carries None, which the drawing refuses.
    py::object results = self.attr("experiment"_n).attr("interpret_result_dict"_n);
    py::object found = results[self.attr("model"_n)];
    py::object res = is_tree_result(found) ? call({deepcopy(), found}) : py::none();
    //     interpret_result = {'key': 'global_tree', 'model': self.model,
    //                         'input': {'depth': depth, 'root': root}, 'value': res}
    py::dict interpret_result = record("global_tree", self.attr("model"_n), input, res);
    if (!res.is_none()) {
        add_display_names(self, interpret_result, res);
    }
    //     InterpretGraph.plot_tree_diag(interpret_result, self.pipeline, original_scale, figsize=figsize)
    call({InterpretGraph().attr("plot_tree_diag"_n), interpret_result, self.attr("pipeline"_n), original_scale,
          kw("figsize", figsize)});
    return py::none();
}
constexpr Row get_tree_row{Owner::api, method<get_tree>("get_tree", "self, root=0, depth=3, original_scale=False, figsize=(20, 10)")};

// def get_local_tree(self, idx, original_scale=False, figsize=(20, 10)):
py::object get_local_tree(const Params<4>& args) {
    auto [self, idx, original_scale, figsize] = args;
    //     res = self.experiment.interpret_local_tree(self.model, idx)
    py::object res = call({self.attr("experiment"_n).attr("interpret_local_tree"_n), self.attr("model"_n), idx});
    //     interpret_result = {'key': 'global_tree', 'model': self.model, 'input': {'idx': idx}, 'value': res}
    // A model without a tree has no local tree: its record carries None, which the drawing refuses.
    const bool tree = is_tree_result(res);
    py::dict interpret_result = sample_record("global_tree", self, idx, tree ? res : py::none());
    py::object size = py::reinterpret_borrow<py::object>(figsize);
    if (tree) {
        //     height = len(res['node_related'])
        py::int_ height = length(res["node_related"_n]);
        add_display_names(self, interpret_result, res);
        size = py::make_tuple(20, height);
    }
    //     InterpretGraph.plot_local_tree(interpret_result, self.pipeline, original_scale, figsize=(20, height))
    call({InterpretGraph().attr("plot_local_tree"_n), interpret_result, self.attr("pipeline"_n), original_scale,
          kw("figsize", size)});
    return py::none();
}
constexpr Row get_local_tree_row{Owner::api, method<get_local_tree>("get_local_tree", "self, idx, original_scale=False, figsize=(20, 10)")};

// The rows of this unit's methods, in their order in the two classes.
Rows tree_rows() { return {get_tree_row, get_local_tree_row, plot_tree_diag_row, plot_local_tree_row}; }

}  // namespace vexo
