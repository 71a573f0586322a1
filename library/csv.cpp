// Delimiter-separated text (see csv.h).
#include "library/csv.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "library/text_builder.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/registry.h"
#include "runtime/stack.h"

namespace vyr::library {

namespace {

constexpr char not_aligned[] = "Data are not aligned";
// Characters of the text shown after "Near:" in the error value.
constexpr size_t near_length = 40;

Cell user_error(const char* text) {
    TextBuilder b;
    b.append_ascii(text);
    Cell message = b.make_string();
    return error_t::create_at(err_cat::user, err_id::user::message, &message);
}

[[noreturn]] void raise_user(const char* text) {
    TextBuilder b;
    b.append_ascii(text);
    Cell message = b.make_string();
    raise_error(err_cat::user, err_id::user::message, &message);
}

Cell block_of(const std::vector<Cell>& cells, size_t from = 0) {
    uint32_t count = uint32_t(cells.size() - from);
    Cell block{};
    block_t::make_at(block, int32_t(count));
    if (count) std::memcpy(block_t::cell_at(block, 0), cells.data() + from, size_t(count) * sizeof(Cell));
    block_t::set_tail(block, count);
    return block;
}

Cell ascii_string(const std::string& text) {
    TextBuilder b;
    b.append_ascii(text.data(), text.size());
    return b.make_string();
}

// The column name after `name`, counted as spreadsheet columns are: A, B ...
// Z, AA, AB ... AZ, BA ... ZZ, AAA.
std::string next_column_name(std::string name) {
    for (size_t i = name.size(); i-- > 0;) {
        if (name[i] != 'Z') {
            ++name[i];
            return name;
        }
        name[i] = 'A';
        if (i == 0) name.insert(name.begin(), 'A');
    }
    return name;
}

// The first `length` column names (at least one).
std::vector<Cell> make_header(size_t length) {
    std::vector<Cell> names;
    std::string name = "A";
    names.push_back(ascii_string(name));
    for (size_t i = 1; i < length; ++i) {
        name = next_column_name(name);
        names.push_back(ascii_string(name));
    }
    return names;
}

// The text of a column name cell, for counting on from it.
std::string name_text(const Cell& name) {
    Units u = Units::of(name);
    std::string text;
    for (size_t i = 0; i < u.count; ++i) text.push_back(char(u[i] < 0x80 ? u[i] : '?'));
    return text;
}

struct ReadOptions {
    std::vector<uint32_t> delimiter;
    uint32_t quote = '"';
    bool header = false, as_columns = false, as_records = false, flat = false, trim = false;
};

// Unreadable text or misaligned lines: the error value, unwinding the reader.
struct Refused {
    Cell error;
};

template <typename Unit>
class Reader {
public:
    Reader(const Units& units, const ReadOptions& o)
        : units_(units), t_(reinterpret_cast<const Unit*>(units.bytes)), n_(units.count), o_(o) {}

    Cell read() {
        if (o_.header) {
            values();
            if (newline()) {
                header_ = line_;
                line_.clear();
            } else {
                pos_ = 0;
            }
            if (pos_ == 0 || pos_ == n_) raise_user("CSV data are too small to use /HEADER refinement");
        } else {
            header_ = make_header(1);
        }
        while (pos_ < n_) {
            values();
            if (!newline() && pos_ < n_) throw Refused{unreadable()};
            add_line();
        }
        if (o_.as_columns) return columns();
        return block_of(output_);
    }

private:
    bool delimiter_char_q(uint32_t c) const {
        for (uint32_t d : o_.delimiter)
            if (c == d) return true;
        return false;
    }

    // The delimiter, whole, at the position: consumed.
    bool delimiter() {
        size_t len = o_.delimiter.size();
        if (n_ - pos_ < len) return false;
        for (size_t i = 0; i < len; ++i)
            if (t_[pos_ + i] != o_.delimiter[i]) return false;
        pos_ += len;
        return true;
    }

    bool newline() {
        if (pos_ >= n_) return false;
        if (t_[pos_] == '\n') {
            ++pos_;
            return true;
        }
        if (t_[pos_] != '\r') return false;
        ++pos_;
        if (pos_ < n_ && t_[pos_] == '\n') ++pos_;
        return true;
    }

    // The values of one line, up to (not past) its end.
    void values() {
        for (;;) {
            Cell v = single_value();
            bool more = delimiter();
            add_value(v);
            if (!more) return;
        }
    }

    Cell single_value() {
        if (pos_ < n_ && t_[pos_] == o_.quote) {
            bool doubled = false;
            for (size_t p = pos_ + 1; p < n_; ++p) {
                if (t_[p] != o_.quote) continue;
                if (p + 1 < n_ && t_[p + 1] == o_.quote) {
                    doubled = true;
                    ++p;
                    continue;
                }
                size_t start = pos_ + 1;
                pos_ = p + 1;
                return doubled ? undouble(start, p) : make_string_of(units_, start, p);
            }
            // Not closed: read as a plain value.
        }
        size_t start = pos_;
        while (pos_ < n_) {
            uint32_t c = t_[pos_];
            if (c == '\n' || c == '\r' || delimiter_char_q(c)) break;
            ++pos_;
        }
        return make_string_of(units_, start, pos_);
    }

    Cell undouble(size_t start, size_t end) {
        TextBuilder b(end - start);
        for (size_t i = start; i < end; ++i) {
            b.append(t_[i]);
            if (t_[i] == o_.quote) ++i;
        }
        return b.make_string();
    }

    // With /trim: blanks go from both ends (and from the ends of the lines
    // inside), then one quote character from each end when both ends hold one.
    void add_value(Cell v) {
        if (o_.trim) {
            string_t::trim_ends(v, false, false);
            Units u = Units::of(v);
            if (u.count > 0 && u[0] == o_.quote && u[u.count - 1] == o_.quote)
                v = make_string_of(u, 1, u.count > 1 ? u.count - 1 : 1);
        }
        line_.push_back(v);
    }

    void add_line() {
        size_t length = line_.size();
        if (longest_ == 0) longest_ = length;
        if (length != longest_) throw Refused{user_error(not_aligned)};
        if (o_.as_records) {
            while (header_.size() < longest_)
                header_.push_back(ascii_string(next_column_name(name_text(header_.back()))));
            Cell map{};
            map_t::make_at(&map, nullptr, int32_t(2 * length));
            for (size_t k = 0; k < length; ++k) map_t::put(&map, &header_[k], &line_[k], false);
            output_.push_back(map);
        } else if (o_.flat) {
            output_.insert(output_.end(), line_.begin(), line_.end());
        } else {
            output_.push_back(block_of(line_));
        }
        line_.clear();
    }

    // The map of column name to the block of that column's values.
    Cell columns() {
        if (longest_ > header_.size()) header_ = make_header(longest_);
        Cell map{};
        map_t::make_at(&map, nullptr, int32_t(2 * header_.size()));
        std::vector<Cell> column;
        for (size_t i = 0; i < header_.size(); ++i) {
            column.clear();
            for (const Cell& line : output_) {
                Cell l = line;
                column.push_back(i < uint32_t(block_t::length_at(l)) ? *block_t::cell_at(l, uint32_t(i))
                                                                      : none_t::value);
            }
            Cell values = block_of(column);
            map_t::put(&map, &header_[i], &values, false);
        }
        return map;
    }

    // "Invalid CSV text. Line: 3 Near: ..." for text the grammar stops in.
    Cell unreadable() {
        int32_t line = 1;
        for (size_t i = 0; i < pos_; ++i)
            if (t_[i] == '\n' || (t_[i] == '\r' && (i + 1 >= n_ || t_[i + 1] != '\n'))) ++line;
        TextBuilder message;
        message.append_ascii(("Invalid CSV text. Line: " + std::to_string(line) + " Near: ").c_str());
        message.append_formed(make_string_of(units_, pos_, std::min(n_, pos_ + near_length)), true);
        Cell text = message.make_string();
        return error_t::create_at(err_cat::user, err_id::user::message, &text);
    }

    const Units& units_;
    const Unit* t_;
    size_t n_;
    const ReadOptions& o_;
    size_t pos_ = 0;
    size_t longest_ = 0;
    std::vector<Cell> line_;
    std::vector<Cell> header_;
    std::vector<Cell> output_;
};

template <typename Unit>
Cell read_csv(const Units& units, const ReadOptions& o) {
    Reader<Unit> reader(units, o);
    try {
        return reader.read();
    } catch (const Refused& r) {
        return r.error;
    }
}

std::vector<uint32_t> delimiter_chars(const Cell& delimiter) {
    if (type_of(delimiter) == type_char) return {char_t::get(delimiter)};
    Units u = Units::of(delimiter);
    std::vector<uint32_t> chars;
    for (size_t i = 0; i < u.count; ++i) chars.push_back(u[i]);
    // An empty delimiter would match everywhere without moving on.
    if (chars.empty()) raise_error(err_cat::script, err_id::script::invalid_arg, &delimiter);
    return chars;
}

// ---- Writing ------------------------------------------------------------------

// The values of a line: a block's from its index, or the one value.
std::vector<Cell> line_values(const Cell& line) {
    std::vector<Cell> values;
    if (any_block_q(type_of(line))) {
        for (uint32_t i = line.w1; i < memory::series_length(line.w2); ++i) values.push_back(*memory::cell_at(line.w2, i));
    } else {
        values.push_back(line);
    }
    return values;
}

// The keys of a map (as words-of gives them) or the words of an object,
// each with its value.
void pairs_of(const Cell& data, std::vector<Cell>& keys, std::vector<Cell>* values) {
    if (type_of(data) == type_map) {
        for (uint32_t i = 0; i + 1 < memory::series_length(data.w2); i += 2) {
            Cell value = *memory::cell_at(data.w2, i + 1);
            if (value.header == map_t::removed_header) continue;
            Cell key = *memory::cell_at(data.w2, i);
            if (type_of(key) == type_set_word) set_type(key, type_word);
            keys.push_back(key);
            if (values) values->push_back(value);
        }
        return;
    }
    uint32_t n = object_t::field_count(data);
    for (uint32_t i = 0; i < n; ++i) {
        Cell key = *context_t::word_at(data.w1, int32_t(i));
        key.header = type_word;
        key.w1 = data.w1;
        keys.push_back(key);
        if (values) values->push_back(object_t::fields(data)[i]);
    }
}

bool record_q(const Cell& v) { return type_of(v) == type_map || type_of(v) == type_object; }

class Writer {
public:
    Writer(const Cell& delimiter, uint32_t quote) : delimiter_(delimiter_chars(delimiter)), quote_(quote) {}

    TextBuilder out{1000};

    void line(const std::vector<Cell>& values) {
        for (size_t i = 0; i < values.size(); ++i) {
            if (i > 0)
                for (uint32_t d : delimiter_) out.append(d);
            escape_value(values[i]);
        }
        out.append('\n');
    }

    // Lines of equal length; answers false (nothing more written) at the
    // first that differs from the first.
    bool blocks(const std::vector<Cell>& lines) {
        size_t required = 0;
        for (size_t k = 0; k < lines.size(); ++k) {
            std::vector<Cell> values = line_values(lines[k]);
            if (k == 0) required = values.size();
            if (values.size() != required) return false;
            line(values);
        }
        return true;
    }

    bool flat(const Cell& data, int32_t size) {
        std::vector<Cell> values = line_values(data);
        if (values.size() % size_t(size) != 0) return false;
        for (size_t i = 0; i < values.size(); i += size_t(size))
            line(std::vector<Cell>(values.begin() + long(i), values.begin() + long(i) + size));
        return true;
    }

    // Records: a header of every key met (first record's first, each once),
    // then one line per record with "" where a key is missing, none or false.
    void records(const std::vector<Cell>& items) {
        std::vector<Cell> columns;
        for (const Cell& item : items) {
            std::vector<Cell> keys;
            pairs_of(item, keys, nullptr);
            for (Cell& key : keys) {
                bool known = false;
                for (Cell& c : columns) known = known || actions::compare(&c, &key, registry::op_equal);
                if (!known) columns.push_back(key);
            }
        }
        line(columns);
        std::vector<Cell> values;
        Cell empty = ascii_string("");
        for (const Cell& item : items) {
            values.clear();
            for (const Cell& column : columns) {
                Cell found = none_t::value;
                if (type_of(item) == type_map) {
                    Cell m = item, key = column;
                    map_t::select(&m, &key, nullptr, false, false, false, false, nullptr, nullptr, false, false);
                    found = m;
                } else {
                    found = *object_t::select_field(item, column);
                }
                bool blank = type_of(found) == type_none || (type_of(found) == type_logic && found.w1 == 0);
                values.push_back(blank ? empty : found);
            }
            line(values);
        }
    }

    // A map (or object) of columns: the keys, then row i of every column.
    bool columns(const Cell& data) {
        std::vector<Cell> keys, blocks;
        pairs_of(data, keys, &blocks);
        line(keys);
        if (keys.empty()) return true;
        std::vector<std::vector<Cell>> cols;
        for (const Cell& b : blocks) cols.push_back(line_values(b));
        size_t rows = cols[0].size();
        for (const auto& c : cols)
            if (c.size() != rows) return false;
        std::vector<Cell> values;
        for (size_t i = 0; i < rows; ++i) {
            values.clear();
            for (const auto& c : cols) values.push_back(c[i]);
            line(values);
        }
        return true;
    }

private:
    bool quotable_q(uint32_t c) const {
        if (c == ' ' || c == '\n' || c == '\r' || c == quote_) return true;
        for (uint32_t d : delimiter_)
            if (c == d) return true;
        return false;
    }

    // The formed value, its quote characters doubled, in quotes when it
    // held one or holds a character that would end or split it.
    void escape_value(const Cell& v) {
        TextBuilder text;
        if (type_of(v) == type_string) text.append_text(v);
        else text.append_formed(v, false);
        bool quoted = false;
        for (size_t i = 0; i < text.length() && !quoted; ++i) quoted = quotable_q(text.at(i));
        if (quoted) out.append(quote_);
        for (size_t i = 0; i < text.length(); ++i) {
            uint32_t c = text.at(i);
            out.append(c);
            if (c == quote_) out.append(c);
        }
        if (quoted) out.append(quote_);
    }

    std::vector<uint32_t> delimiter_;
    uint32_t quote_;
};

}  // namespace

Status load_csv(Cell* args, uint32_t) {
    ReadOptions o;
    o.delimiter = delimiter_chars(args[1]);
    o.header = args[2].w1 != 0;
    o.as_columns = args[3].w1 != 0;
    o.as_records = args[4].w1 != 0;
    o.flat = args[5].w1 != 0;
    o.trim = args[6].w1 != 0;
    o.quote = char_t::get(args[7]);
    if (o.header && !o.as_records) o.as_columns = true;
    collector::CollectionHold hold;  // the reader walks the text's buffer
    Units units = Units::of(args[0]);
    switch (units.width) {
        case 1: args[0] = read_csv<uint8_t>(units, o); break;
        case 2: args[0] = read_csv<uint16_t>(units, o); break;
        default: args[0] = read_csv<uint32_t>(units, o); break;
    }
    return Status::ok;
}

Status to_csv(Cell* args, uint32_t) {
    Writer w(args[1], char_t::get(args[3]));
    Cell data = args[0];
    bool ok = true;
    if (record_q(data)) {
        ok = w.columns(data);
    } else if (type_of(args[2]) == type_integer) {
        int32_t size = int32_t(args[2].w2);
        if (size < 1) raise_error(err_cat::script, err_id::script::invalid_arg, &args[2]);
        ok = w.flat(data, size);
    } else {
        std::vector<Cell> items = line_values(data);
        Cell first = items.empty() ? none_t::value : items[0];
        bool records = record_q(first);
        if (!records && type_of(first) != type_block) {
            items.assign(1, data);
        }
        bool same = true;
        for (const Cell& item : items) same = same && type_of(item) == type_of(items[0]);
        if (records && same) w.records(items);
        else ok = w.blocks(items);
    }
    args[0] = ok ? w.out.make_string() : user_error(not_aligned);
    return Status::ok;
}

}  // namespace vyr::library
