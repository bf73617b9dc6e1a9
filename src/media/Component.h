#pragma once
// The part every media component shares: its name (the form's field name,
// which the graph also uses as the platform filter's name).
#include <string>

class TComponent {
  public:
    explicit TComponent(std::string name = {}) : name_(std::move(name)) {}
    virtual ~TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const std::string& Name() const noexcept { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

  private:
    std::string name_;
};
