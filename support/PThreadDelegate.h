// What a PThread runs: a delegate that it clones into the new thread.
// run's result becomes the thread's result.
#ifndef TEV_SUPPORT_PTHREADDELEGATE_H_
#define TEV_SUPPORT_PTHREADDELEGATE_H_

class PThreadDelegateGeneric {
 public:
  virtual ~PThreadDelegateGeneric() = default;
  virtual int run(void* argument) = 0;
  // A new delegate of the same kind and target, owned by the caller.
  virtual PThreadDelegateGeneric* clone() const = 0;
};

// Calls `(object->*method)(argument)`. The object must outlive the thread.
template <class T>
class PThreadDelegateMember : public PThreadDelegateGeneric {
 public:
  typedef int (T::*Method)(void*);

  PThreadDelegateMember(T* object, Method method) : object_(object), method_(method) {}

  int run(void* argument) override { return (object_->*method_)(argument); }
  PThreadDelegateGeneric* clone() const override {
    return new PThreadDelegateMember<T>(object_, method_);
  }

 private:
  T* object_;
  Method method_;
};

// Calls a plain function.
class PThreadDelegateFunction : public PThreadDelegateGeneric {
 public:
  typedef int (*Function)(void*);

  explicit PThreadDelegateFunction(Function function) : function_(function) {}

  int run(void* argument) override { return function_(argument); }
  PThreadDelegateGeneric* clone() const override { return new PThreadDelegateFunction(function_); }

 private:
  Function function_;
};

#endif  // TEV_SUPPORT_PTHREADDELEGATE_H_
