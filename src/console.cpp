// Console lines: the parts' texts joined by spaces, written to sys.stdout.

#include "console.hpp"

#include <algorithm>
#include <cstring>

namespace console {

namespace {

PyRef name_of_write() {
    return new_reference([] { return PyUnicode_InternFromString("write"); });
}

template <typename To, typename From>
void widen(void* line, Py_ssize_t position, const void* text, Py_ssize_t length) {
    const auto* const from = static_cast<const From*>(text);
    std::copy(from, from + length, static_cast<To*>(line) + position);
}

// Copies `text` into `line` at `position`, its characters widened to the
// line's kind, which is never narrower than the text's.
void copy_into(PyObject* line, Py_ssize_t position, PyObject* text) {
    const int line_kind = PyUnicode_KIND(line);
    const int text_kind = PyUnicode_KIND(text);
    void* const to = PyUnicode_DATA(line);
    const void* const from = PyUnicode_DATA(text);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    if (line_kind == text_kind) {
        std::memcpy(static_cast<char*>(to) + position * line_kind, from, static_cast<std::size_t>(length * text_kind));
    } else if (line_kind == PyUnicode_2BYTE_KIND) {
        widen<Py_UCS2, Py_UCS1>(to, position, from, length);
    } else if (text_kind == PyUnicode_1BYTE_KIND) {
        widen<Py_UCS4, Py_UCS1>(to, position, from, length);
    } else {
        widen<Py_UCS4, Py_UCS2>(to, position, from, length);
    }
}

// The texts joined by single spaces, as str.join gives them.
PyRef joined(const PyRef* texts, std::size_t count) {
    Py_ssize_t length = static_cast<Py_ssize_t>(count) - 1;
    Py_UCS4 max_char = ' ';
    for (std::size_t i = 0; i < count; ++i) {
        length += PyUnicode_GET_LENGTH(texts[i].get());
        max_char = std::max(max_char, PyUnicode_MAX_CHAR_VALUE(texts[i].get()));
    }
    PyRef line = new_reference([length, max_char] { return PyUnicode_New(length, max_char); });
    const int kind = PyUnicode_KIND(line.get());
    void* const data = PyUnicode_DATA(line.get());
    Py_ssize_t position = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) {
            PyUnicode_WRITE(kind, data, position++, ' ');
        }
        copy_into(line.get(), position, texts[i].get());
        position += PyUnicode_GET_LENGTH(texts[i].get());
    }
    return line;
}

// Writes `line` and a line feed to the sys.stdout of the moment through its
// attribute named by `write_name`. The stream, its write and what write
// returns are held as PyRef: the write may replace sys.stdout, and then their
// release here is the last one.
void write_to_stdout(const PyRef& line, const PyRef& write_name) {
    // Borrowed from sys, or null without an error when sys has no stdout. Held
    // while its write is looked up, which may run Python code that replaces it.
    PyObject* const current = PySys_GetObject("stdout");
    if (current == nullptr) {
        return;
    }
    const PyRef stream = PyRef::borrowed(current);
    const PyRef write = new_reference([&] { return PyObject_GetAttr(stream.get(), write_name.get()); });
    new_reference([&] { return PyObject_CallOneArg(write.get(), line.get()); });
    const PyRef line_feed = new_reference([] { return PyUnicode_FromOrdinal('\n'); });
    new_reference([&] { return PyObject_CallOneArg(write.get(), line_feed.get()); });
}

}  // namespace

PyRef text_of(std::u32string_view literal) {
    return new_reference([literal] {
        return PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, literal.data(), static_cast<Py_ssize_t>(literal.size()));
    });
}

PyRef text_of(std::string_view text) { return utf8_text(text); }

// The str() of a number that the module made (an int or a float).
PyRef str_of(const PyRef& number) {
    return new_reference([&number] { return PyObject_Str(number.get()); });
}

PyRef text_of(std::size_t count) {
    return str_of(new_reference([count] { return PyLong_FromSize_t(count); }));
}

PyRef text_of(double real) {
    return str_of(new_reference([real] { return PyFloat_FromDouble(real); }));
}

void write(const PyRef* texts, std::size_t count) { write_to_stdout(joined(texts, count), name_of_write()); }

RepeatedLine::RepeatedLine(std::u32string_view before, std::u32string_view after)
    : before_(text_of(before)), after_(text_of(after)), write_name_(name_of_write()) {}

void RepeatedLine::write(std::string_view value) const {
    const PyRef texts[] = {PyRef::borrowed(before_.get()), text_of(value), PyRef::borrowed(after_.get())};
    write_to_stdout(joined(texts, std::size(texts)), write_name_);
}

}  // namespace console
