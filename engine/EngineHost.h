// What the engine needs from the module that runs it. The module implements
// it and hands it to the engine at construction; an engine without a host
// (tests of the bare engine) never finds the media library ready and never
// sees the module stopping.
#ifndef TEV_ENGINE_ENGINEHOST_H_
#define TEV_ENGINE_ENGINEHOST_H_

class EngineHost {
 public:
  virtual ~EngineHost() = default;
  // Polls the media library until it is ready; false when it never was or
  // the module began to stop meanwhile.
  virtual bool WaitForTevMedia() = 0;
  // True once the module began to stop.
  virtual bool Stopping() = 0;
  // Finishes a database upgrade that waited for the media library (the
  // passes' medium ids); true when nothing is left to do.
  virtual bool FinishMediumIdUpgrade() = 0;
};

#endif  // TEV_ENGINE_ENGINEHOST_H_
