// APMPMarkable: a root of the object manager's collection. mark hands every
// value the root keeps alive to the marker (scopes, the editing callbacks).
#pragma once

class APMPMarker;

class APMPMarkable {
 public:
  virtual ~APMPMarkable() = default;
  virtual void mark(APMPMarker& marker) const = 0;
};
