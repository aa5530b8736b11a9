// The small component framework the archive components live in: an owner
// that destroys them, a name, a design-time state and an after-loading step.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace dvl {

class TComponent {
public:
    // The owner, when given, takes the component and destroys it with itself.
    explicit TComponent(TComponent* owner);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }

    // Design mode: failures show message boxes instead of firing events.
    bool Designing() const { return designing_; }
    void SetDesigning(bool on) { designing_ = on; }

    // Called once the component's properties have been loaded from a form.
    virtual void Loaded() {}

private:
    TComponent* owner_;
    std::string name_;
    bool designing_ = false;
    std::vector<std::unique_ptr<TComponent>> owned_;
};

} // namespace dvl
