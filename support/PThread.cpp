#include "support/PThread.h"

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "platform/WideText.h"
#include "support/Log.h"
#include "support/PMutexLock.h"

PThread::PThread(const pthread_attr_t* attributes, int (*function)(void*), void* argument)
    : delegate_(new PThreadDelegateFunction(function)), argument_(argument) {
  Start(attributes);
}

PThread::PThread(int (*function)(void*), void* argument) : PThread(nullptr, function, argument) {}

PThread::PThread(const pthread_attr_t* attributes, const PThreadDelegateGeneric& prototype,
                 void* argument)
    : delegate_(prototype.clone()), argument_(argument) {
  Start(attributes);
}

PThread::~PThread() {
  delete delegate_;
  if (joinable_) pthread_detach(handle_);
}

void PThread::Start(const pthread_attr_t* attributes) {
  int rc = pthread_create(&handle_, attributes, &PThread::Entry, this);
  if (rc != 0) {
    delete delegate_;
    delegate_ = nullptr;
    throw std::system_error(rc, std::generic_category(), "PThread: pthread_create failed");
  }
  joinable_ = true;
  PMutexLock lock(&start_);
  while (started_ == 0) start_.wait();
}

void* PThread::Entry(void* self) {
  PThread* thread = static_cast<PThread*>(self);
  void* argument = thread->argument_;
  PThreadDelegateGeneric* delegate = thread->delegate_->clone();
  {
    PMutexLock lock(&thread->start_);
    thread->started_ = 1;
    thread->start_.broadcast();
  }
  // From here on `thread` may be gone.
  int result = -1;
  try {
    result = delegate->run(argument);
  } catch (const std::exception& e) {
    // An escaping exception would end the whole process.
    LogError(L"PThread: thread ended by exception: %ls", tev::FromStdUtf8(e.what()).c_str());
  }
  delete delegate;
  return reinterpret_cast<void*>(static_cast<intptr_t>(result));
}

int PThread::join(void** result) {
  if (!joinable_) return EINVAL;
  void* value = nullptr;
  int rc = pthread_join(handle_, &value);
  if (rc == 0) {
    joinable_ = false;
    if (result != nullptr) *result = value;
  }
  return rc;
}
