#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace RTTI {

template <class Signature> class FunctionRef;

/// A non-owning reference to a callable, for callbacks that do not outlive the call they are
/// passed to (filling a map entry while it is inserted). Cheaper than std::function: no
/// allocation, one indirect call.
template <class Result, class... Args> class FunctionRef<Result(Args...)> {
public:
    template <class Callable>
    requires(!std::is_same_v<std::remove_cvref_t<Callable>, FunctionRef> &&
             std::is_invocable_r_v<Result, Callable&, Args...>)
        FunctionRef(Callable&& callable) // NOLINT: implicit by design, like std::function
        : mCallable(const_cast<void*>(static_cast<const void*>(std::addressof(callable)))),
          mInvoke([](void* target, Args... args) -> Result {
              return (*static_cast<std::remove_reference_t<Callable>*>(target))(std::forward<Args>(args)...);
          })
    {}

    Result operator()(Args... args) const { return mInvoke(mCallable, std::forward<Args>(args)...); }

private:
    void* mCallable; // not owned
    Result (*mInvoke)(void*, Args...);
};

} // namespace RTTI
