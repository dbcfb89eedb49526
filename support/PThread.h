// A thread that runs a delegate. The constructor starts the thread and
// returns only after the new thread has cloned the delegate, so the caller
// may reuse or destroy its own delegate and argument holder at once (the
// argument itself is passed by value to run).
//
// Every owner joins its thread before destroying what the thread uses; the
// destructor does not join (a thread never joined is detached then, so its
// resources are released when it ends).
#ifndef TEV_SUPPORT_PTHREAD_H_
#define TEV_SUPPORT_PTHREAD_H_

#include <pthread.h>

#include "support/PCondMutex.h"
#include "support/PThreadDelegate.h"

class PThread {
 public:
  // Member form: runs (object->*method)(argument). `attributes` may be null.
  // Throws std::system_error (a std::exception) when the thread cannot be
  // created; nothing is left behind then.
  template <class T>
  PThread(const pthread_attr_t* attributes, T* object, int (T::*method)(void*), void* argument)
      : delegate_(new PThreadDelegateMember<T>(object, method)), argument_(argument) {
    Start(attributes);
  }
  template <class T>
  PThread(T* object, int (T::*method)(void*), void* argument = nullptr)
      : PThread(nullptr, object, method, argument) {}

  // Function form: runs function(argument).
  PThread(const pthread_attr_t* attributes, int (*function)(void*), void* argument);
  explicit PThread(int (*function)(void*), void* argument = nullptr);

  // Any delegate: runs a clone of `prototype`.
  PThread(const pthread_attr_t* attributes, const PThreadDelegateGeneric& prototype, void* argument);

  virtual ~PThread();

  PThread(const PThread&) = delete;
  PThread& operator=(const PThread&) = delete;

  // pthread_join on the thread; stores the delegate's int result (as an
  // intptr_t inside the pointer) into *result when result is not null.
  // Returns the pthread result (EINVAL when already joined).
  int join(void** result = nullptr);

  pthread_t handle() const { return handle_; }

 private:
  void Start(const pthread_attr_t* attributes);
  static void* Entry(void* self);

  pthread_t handle_{};
  PThreadDelegateGeneric* delegate_;
  PCondMutex start_;
  void* argument_;
  int started_ TEV_GUARDED_BY(start_) = 0;
  bool joinable_ = false;
};

#endif  // TEV_SUPPORT_PTHREAD_H_
