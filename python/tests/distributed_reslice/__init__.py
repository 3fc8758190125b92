"""Tests of volaccess.distributed."""
