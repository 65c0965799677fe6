"""Stand-in for the project's servers: assignment, work and core download.

Written apart from the client's code on purpose: every record is packed and
unpacked here from its own byte offsets, so a byte-order or offset mistake in
the client shows up as a failed exchange instead of cancelling out.
"""
