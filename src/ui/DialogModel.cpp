#include "ui/DialogModel.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace lumora::ui {

const Control* DialogModel::Find(int id, int page) const {
    for (const Control& c : controls_) {
        if (page >= 0 && c.page != page) continue;
        if (c.id == id || (c.kind == ControlKind::kSlider && (c.editId == id || c.spinId == id)))
            return &c;
    }
    return nullptr;
}

Control* DialogModel::FindMutable(int id, int page) {
    return const_cast<Control*>(Find(id, page));
}

Control& DialogModel::Add(Control control) {
    controls_.push_back(std::move(control));
    return controls_.back();
}

void DialogModel::SetEnabled(int id, bool on, int page) {
    if (Control* c = FindMutable(id, page); c != nullptr && c->enabled != on) {
        c->enabled = on;
        Changed();
    }
}

void DialogModel::SetVisible(int id, bool on, int page) {
    if (Control* c = FindMutable(id, page); c != nullptr && c->visible != on) {
        c->visible = on;
        Changed();
    }
}

void DialogModel::SetValue(int id, int value, int page) {
    if (Control* c = FindMutable(id, page); c != nullptr && c->value != value) {
        c->value = value;
        if (c->kind == ControlKind::kSlider) c->text = std::to_string(value);
        Changed();
    } else if (c != nullptr && c->kind == ControlKind::kSlider &&
               c->text != std::to_string(value)) {
        c->text = std::to_string(value);
        Changed();
    }
}

void DialogModel::SetText(int id, const std::string& text, int page) {
    if (Control* c = FindMutable(id, page); c != nullptr && c->text != text) {
        c->text = text;
        Changed();
    }
}

namespace {
std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}
}  // namespace

bool ParseInt(const std::string& text, int& value) {
    const std::string t = Trimmed(text);
    if (t.empty()) return false;
    const char* begin = t.data();
    if (*begin == '+') ++begin;
    int parsed = 0;
    const auto [end, ec] = std::from_chars(begin, t.data() + t.size(), parsed);
    if (ec != std::errc{} || end != t.data() + t.size()) return false;
    value = parsed;
    return true;
}

bool ParseDouble(const std::string& text, double& value) {
    const std::string t = Trimmed(text);
    if (t.empty()) return false;
    const char* begin = t.data();
    if (*begin == '+') ++begin;
    double parsed = 0.0;
    const auto [end, ec] = std::from_chars(begin, t.data() + t.size(), parsed);
    if (ec != std::errc{} || end != t.data() + t.size() || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

}  // namespace lumora::ui
