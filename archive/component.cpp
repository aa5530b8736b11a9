#include "archive/component.h"

namespace dvl {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->owned_.emplace_back(this);
}

TComponent::~TComponent() {
    // Owned components go first, newest first; each one unhooks itself.
    while (!owned_.empty()) {
        TComponent* child = owned_.back().release();
        owned_.pop_back();
        child->owner_ = nullptr;
        delete child;
    }
    if (owner_) {
        auto& siblings = owner_->owned_;
        for (auto it = siblings.begin(); it != siblings.end(); ++it) {
            if (it->get() == this) {
                it->release();
                siblings.erase(it);
                break;
            }
        }
    }
}

} // namespace dvl
