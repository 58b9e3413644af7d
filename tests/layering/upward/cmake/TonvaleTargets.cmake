# A two-layer project whose lower layer includes the upper one: the layering
# check must refuse it.
set(TONVALE_FOLDERS
  core
  engine)
