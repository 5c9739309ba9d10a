// The shape of every replaceable service of the action families: an interface whose virtual
// members call the real Windows service, the one real instance, and an RAII override that a test
// installs to answer in its place (overrides nest; the innermost one wins).
#pragma once

#include <atomic>
#include <utility>

namespace Vrn {

template <class Service>
class CSeam {
 public:
  // The service in use: the innermost override, else the real one.
  static Service& Current() noexcept {
    Service* replacement = s_override.load();
    return replacement ? *replacement : s_real;
  }

  // Routes Current() to `replacement` for the object's lifetime.
  class COverride {
   public:
    explicit COverride(Service& replacement) : m_previous(s_override.exchange(&replacement)) {}
    ~COverride() { s_override.store(m_previous); }
    COverride(const COverride&) = delete;
    COverride& operator=(const COverride&) = delete;

   private:
    Service* m_previous;
  };

 private:
  static inline Service s_real{};
  static inline std::atomic<Service*> s_override{nullptr};
};

}  // namespace Vrn
