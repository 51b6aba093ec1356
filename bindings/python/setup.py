"""The wheel carries a native library, so it is tagged for the platform it was built on (any
Python 3, since ctypes needs no compiled extension)."""
from setuptools import setup
from wheel.bdist_wheel import bdist_wheel


class PlatformWheel(bdist_wheel):
    def finalize_options(self) -> None:
        super().finalize_options()
        self.root_is_pure = False

    def get_tag(self):  # type: ignore[no-untyped-def]
        return "py3", "none", super().get_tag()[2]


setup(cmdclass={"bdist_wheel": PlatformWheel})
