#include "common/tally_piece.hpp"

#include <string>
#include <type_traits>

#include "common/arrays.hpp"
#include "common/errors.hpp"
#include "common/pyglue.hpp"

namespace quend::glue {

namespace {

const char* numpy_name(Dtype d) {
    switch (d) {
        case Dtype::f32: return "float32";
        case Dtype::f64: return "float64";
        case Dtype::boolean: return "bool";
        case Dtype::i8: return "int8";
        case Dtype::i16: return "int16";
        case Dtype::i32: return "int32";
        case Dtype::i64: return "int64";
        case Dtype::u8: return "uint8";
        case Dtype::u16: return "uint16";
        case Dtype::u32: return "uint32";
        case Dtype::u64: break;
    }
    return "uint64";
}

[[noreturn]] void malformed(const std::string& what) { raise(PyExc_ValueError, "malformed partial tally: " + what); }

nb::object key(const nb::dict& d, const char* k) {
    if (!d.contains(k)) malformed(std::string("no '") + k + "'");
    return d[k];
}

template <typename T>
std::vector<T> copied(const nb::dict& d, const char* k) {
    ConstVec<T> v;
    if (!nb::try_cast(key(d, k), v)) malformed(std::string("'") + k + "' is not a contiguous array of its type");
    return std::vector<T>(v.data(), v.data() + v.shape(0));
}

std::size_t count(const nb::dict& d, const char* k) {
    long long v = -1;
    if (!nb::try_cast(key(d, k), v) || v < 0) malformed(std::string("'") + k + "' is not a count");
    return static_cast<std::size_t>(v);
}

void read_dense(const nb::dict& d, PartSet parts, HeldPiece& h) {
    h.groups = copied<std::int64_t>(d, "groups");
    h.cols = copied<std::int64_t>(d, "cols");
    PartialView& v = h.view.partial;
    v.parts = parts;
    v.width = h.cols.size();
    v.col_map = h.cols.data();
    v.n_present = h.groups.size();
    v.groups = h.groups.data();
    const std::size_t n_values = v.n_present * v.width;
    for (std::size_t q = 0; q < parts.size(); ++q) {
        ConstVec<double> values;
        if (!d.contains(parts.name(q)) || !nb::try_cast(d[parts.name(q)], values))
            malformed(std::string("no array '") + parts.name(q) + "'");
        if (values.shape(0) != n_values)
            malformed(std::string("'") + parts.name(q) + "' has " + std::to_string(values.shape(0)) +
                      " values, expected " + std::to_string(n_values));
        h.values[q] = d[parts.name(q)];
        v.part[q] = values.data();
    }
}

void read_rows(const nb::dict& d, HeldPiece& h) {
    h.codes = copied<std::int64_t>(d, "codes");
    h.view.j = count(d, "j");
    h.rows =
        compressed_block(key(d, "data"), key(d, "indices"), key(d, "indptr"), true, h.codes.size(), count(d, "n_cols"));
    h.view.rows = h.rows.view;
    h.view.codes = h.codes.data();
}

}  // namespace

nb::object encode_piece(Piece&& p, std::size_t n_groups, std::size_t width) {
    if (p.form == PieceForm::none) return nb::none();
    if (p.form == PieceForm::finished) {
        nb::list tables;
        for (FinishedTable& t : p.done) tables.append(adopt_table(std::move(t), n_groups, width));
        return nb::tuple(tables);
    }
    nb::dict d;
    if (p.form == PieceForm::dense) {
        d["form"] = "dense";
        d["groups"] = numpy_adopt(std::move(p.partial.groups));
        d["cols"] = numpy_adopt(std::move(p.col_map));
        const PartSet parts = p.partial.parts;
        for (std::size_t q = 0; q < parts.size(); ++q) d[parts.name(q)] = numpy_adopt(std::move(p.partial.part[q]));
        return std::move(d);
    }
    RowBlock& r = p.rows;
    d["form"] = "rows";
    d["j"] = p.j;
    d["n_cols"] = r.n_cols;
    d["codes"] = numpy_adopt(std::move(r.codes));
    d["indptr"] = numpy_adopt(std::move(r.indptr));
    d["indices"] = numpy_adopt(std::move(r.indices));
    d["data"] = numpy_adopt(std::move(r.data)).attr("view")(numpy_name(r.dtype));
    return std::move(d);
}

HeldPiece decode_piece(nb::handle obj, PartSet parts) {
    if (!PyDict_Check(obj.ptr())) malformed("not a dict");
    nb::dict d = nb::borrow<nb::dict>(obj);
    nb::object form = key(d, "form");
    HeldPiece h;
    if (form.equal(nb::str("dense"))) {
        h.view.form = PieceForm::dense;
        read_dense(d, parts, h);
    } else if (form.equal(nb::str("rows"))) {
        h.view.form = PieceForm::rows;
        read_rows(d, h);
    } else {
        malformed("unknown form " + glue::repr(form));
    }
    return h;
}

}  // namespace quend::glue
