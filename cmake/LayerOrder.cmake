# The client's layers, lowest first: a layer may include only layers before it (which of them,
# its doorwarden_layer() call says with MAY_INCLUDE), and its own subfolders belong to it.
set(DOORWARDEN_LAYERS platform localization relay media input session core ui app)

# Top folders built on the client that no layer may include: the development programs, the
# tests and the benchmarks.
set(DOORWARDEN_BUILT_ON_LAYERS tools tests bench)
