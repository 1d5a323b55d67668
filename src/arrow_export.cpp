#include "arrow_export.hpp"

#include <cerrno>
#include <exception>
#include <new>
#include <string>

namespace velmar {

namespace {

// What an exported struct owns: its children (whose memory is the parent's
// even once a consumer has moved them out) and its share of the buffers.
template <class Struct>
struct Node {
    std::shared_ptr<const void> owner;
    std::vector<const void*> buffers;
    std::vector<Struct*> children;
    Struct* dictionary = nullptr;
};

template <class Struct>
void release_child(Struct* child) noexcept {
    if (!child) return;
    if (child->release) child->release(child);
    delete child;
}

template <class Struct>
void release_node(Struct* exported) noexcept {
    auto* node = static_cast<Node<Struct>*>(exported->private_data);
    for (Struct* child : node->children) release_child(child);
    release_child(node->dictionary);
    delete node;
    exported->release = nullptr;
}

void fill(const std::shared_ptr<const void>& owner, const ArrowLayout& layout, ArrowArray* out) {
    auto* node = new Node<ArrowArray>{owner, layout.buffers, {}, nullptr};
    *out = ArrowArray{};
    out->length = layout.length;
    out->n_buffers = static_cast<std::int64_t>(node->buffers.size());
    out->buffers = node->buffers.data();
    out->release = release_node<ArrowArray>;
    out->private_data = node;
    // From here a failure gives back what was made through out->release.
    try {
        node->children.reserve(layout.children.size());
        for (const ArrowLayout& child : layout.children) {
            node->children.push_back(new ArrowArray{});
            fill(owner, child, node->children.back());
        }
        if (layout.dictionary) {
            node->dictionary = new ArrowArray{};
            fill(owner, *layout.dictionary, node->dictionary);
        }
    } catch (...) {
        out->release(out);
        throw;
    }
    out->n_children = static_cast<std::int64_t>(node->children.size());
    out->children = node->children.data();
    out->dictionary = node->dictionary;
}

void fill(const ArrowLayout& layout, ArrowSchema* out) {
    auto* node = new Node<ArrowSchema>{};
    *out = ArrowSchema{};
    out->format = layout.format;
    out->name = layout.name;
    out->release = release_node<ArrowSchema>;
    out->private_data = node;
    try {
        node->children.reserve(layout.children.size());
        for (const ArrowLayout& child : layout.children) {
            node->children.push_back(new ArrowSchema{});
            fill(child, node->children.back());
        }
        if (layout.dictionary) {
            node->dictionary = new ArrowSchema{};
            fill(*layout.dictionary, node->dictionary);
        }
    } catch (...) {
        out->release(out);
        throw;
    }
    out->n_children = static_cast<std::int64_t>(node->children.size());
    out->children = node->children.data();
    out->dictionary = node->dictionary;
}

struct StreamState {
    std::shared_ptr<const void> owner;
    const ArrowLayout* layout;
    bool given = false;
    std::string error;
};

StreamState& state_of(ArrowArrayStream* stream) {
    return *static_cast<StreamState*>(stream->private_data);
}

// The callbacks are called from C: no exception may leave them.
template <class Body>
int reported(StreamState& state, Body&& body) noexcept {
    try {
        body();
        return 0;
    } catch (const std::exception& error) {
        state.error = error.what();
    } catch (...) {
        state.error = "unknown error";
    }
    return ENOMEM;
}

int stream_schema(ArrowArrayStream* stream, ArrowSchema* out) {
    StreamState& state = state_of(stream);
    return reported(state, [&] { fill(*state.layout, out); });
}

int stream_next(ArrowArrayStream* stream, ArrowArray* out) {
    StreamState& state = state_of(stream);
    if (state.given) {
        *out = ArrowArray{};  // released: the end of the stream
        return 0;
    }
    return reported(state, [&] {
        fill(state.owner, *state.layout, out);
        state.given = true;
    });
}

const char* stream_error(ArrowArrayStream* stream) {
    const StreamState& state = state_of(stream);
    return state.error.empty() ? nullptr : state.error.c_str();
}

void stream_release(ArrowArrayStream* stream) {
    delete &state_of(stream);
    stream->release = nullptr;
}

}  // namespace

void export_schema(const ArrowLayout& layout, ArrowSchema* out) { fill(layout, out); }

void export_array(const std::shared_ptr<const void>& owner, const ArrowLayout& layout,
                  ArrowArray* out) {
    fill(owner, layout, out);
}

void export_stream(const std::shared_ptr<const void>& owner, const ArrowLayout& layout,
                   ArrowArrayStream* out) {
    *out = ArrowArrayStream{};
    out->private_data = new StreamState{owner, &layout, false, {}};
    out->get_schema = stream_schema;
    out->get_next = stream_next;
    out->get_last_error = stream_error;
    out->release = stream_release;
}

}  // namespace velmar
