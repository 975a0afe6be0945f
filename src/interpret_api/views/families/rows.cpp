// The family rows checked against the Python registry when the module loads.
#include "views/families/rows.h"

#include <string>

namespace vexo {

namespace {

// "'A', 'B'": names as Python writes them.
std::string listed(py::handle names) {
    std::string out;
    for (py::handle name : names) {
        out += (out.empty() ? "" : ", ") + py::repr(name).cast<std::string>();
    }
    return out;
}

[[noreturn]] void refuse(py::handle name, const std::string& what) {
    throw py::import_error("model family " + py::repr(name).cast<std::string>() + ": " + what +
                           "; the module's family rows and vexo.workflow.experiment.families.FAMILIES must agree");
}

}  // namespace

void check_family_rows() {
    py::dict families = py::module_::import("vexo.workflow.experiment.families").attr("FAMILIES");
    for (const FamilyRow* row : kFamilyRows) {
        py::str name(row->name.text());
        if (!families.contains(name)) {
            refuse(name, "the module has views of its own for it, the registry has no such family");
        }
        py::object family = families[name];
        py::tuple class_names = py::make_tuple(py::str(row->class_names[0].text()), py::str(row->class_names[1].text()));
        py::tuple registered(family.attr("class_names"));
        if (!py::set(class_names).equal(py::set(registered))) {
            refuse(name, "the module knows its estimators as " + listed(class_names) + ", the registry as " +
                             (registered.empty() ? std::string("nothing") : listed(registered)));
        }
        if (!py::bool_(family.attr("own_views"))) {
            refuse(name, "the module has views of its own for it, the registry's family does not declare own_views");
        }
    }
    for (auto [name, family] : families) {
        bool has_row = false;
        for (const FamilyRow* row : kFamilyRows) {
            has_row = has_row || equals(name, row->name);
        }
        if (py::bool_(family.attr("own_views")) && !has_row) {
            refuse(name, "the registry's family declares own_views, the module has no row for it");
        }
    }
}

}  // namespace vexo
