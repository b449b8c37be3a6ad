"""Reads a long list of drawings with dxftext on a Dask cluster, one part file per batch.

`python3 -m wqdxfrdr_dist run` writes the parts, `python3 -m wqdxfrdr_dist gather` prints
them as one serial dxftext run would have.
"""
